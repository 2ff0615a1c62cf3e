// The batch-end notice over D-Bus: nothing breaks without a bus, and with a
// private session bus and a stand-in notification service the notice says
// what it should, never waits for the service, and its action opens the
// folder of its own notice only.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "ui/batchnotice.h"
#include "ui/desktop.h"

namespace {
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
}  // namespace

// The notification service, as far as a notice needs it.
class FakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  QStringList bodies;
  QList<QStringList> actions;
  uint nextId = 41;
 public Q_SLOTS:
  Q_SCRIPTABLE uint Notify(const QString&, uint, const QString&, const QString& summary,
                           const QString& body, const QStringList& acts, const QVariantMap&, int) {
    bodies << summary + QLatin1Char(':') + body;
    actions << acts;
    return ++nextId;
  }
};

class TestBatchNotice : public QObject {
  Q_OBJECT
  QProcess daemon_;
  QString address_;

  bool signal(QDBusConnection& bus, const QString& name, const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createSignal(kPath, kInterface, name);
    m.setArguments(args);
    return bus.send(m);
  }

 private Q_SLOTS:
  // No session bus at all (as in CI): the window's shell announces into the
  // void and goes on.
  void withoutABusNothingBreaks() {
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vantrel-test-bus");
    DesktopShell shell;
    QElapsedTimer clock;
    clock.start();
    shell.announceBatchEnd(QStringLiteral("已转换 1 个文件，0 个失败"), QStringLiteral("/tmp"));
    QTest::qWait(100);
    QVERIFY(clock.elapsed() < 2000);

    QStringList opened;
    BatchNotice notice(QDBusConnection(QStringLiteral("not connected")),
                       [&](const QString& f) { opened << f; });
    QSignalSpy shown(&notice, &BatchNotice::shown);
    notice.show(QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("/tmp"));
    QTest::qWait(100);
    QVERIFY(shown.isEmpty() && opened.isEmpty());
  }

  void onAPrivateBus() {
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (exe.isEmpty()) QSKIP("dbus-daemon is not installed");
    daemon_.start(exe, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                        QStringLiteral("--print-address=1")});
    QVERIFY(daemon_.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(daemon_.canReadLine(), 5000);
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    QVERIFY2(address_.startsWith(QLatin1String("unix:")), qPrintable(address_));

    // The service and the program each have a connection of their own.
    QDBusConnection service = QDBusConnection::connectToBus(address_, QStringLiteral("service"));
    QDBusConnection program = QDBusConnection::connectToBus(address_, QStringLiteral("program"));
    QVERIFY(service.isConnected() && program.isConnected());

    QStringList opened;
    {
      // Before any service is there: the call fails quietly.
      BatchNotice early(program, [&](const QString& f) { opened << f; });
      QSignalSpy shown(&early, &BatchNotice::shown);
      early.show(QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("/a"));
      QTest::qWait(300);
      QVERIFY(shown.isEmpty());
    }

    FakeNotifications fake;
    QVERIFY(service.registerObject(kPath, &fake, QDBusConnection::ExportScriptableSlots));
    QVERIFY(service.registerService(kInterface));
    BatchNotice notice(program, [&](const QString& f) { opened << f; });
    QSignalSpy shown(&notice, &BatchNotice::shown);

    // The service answers on this very thread: a call that waited would hang.
    QElapsedTimer clock;
    clock.start();
    notice.show(QStringLiteral("已转换 3 个文件，1 个失败"), QStringLiteral("打开输出文件夹"),
                QStringLiteral("/out/one"));
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY(shown.wait(5000));
    const uint first = shown.takeFirst().first().toUInt();
    QCOMPARE(fake.bodies, QStringList{QStringLiteral("Vantrel:已转换 3 个文件，1 个失败")});
    QCOMPARE(fake.actions.first(), (QStringList{"default", QStringLiteral("打开输出文件夹")}));
    notice.show(QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("/out/two"));
    QVERIFY(shown.wait(5000));
    const uint second = shown.takeFirst().first().toUInt();

    // Another program's notice, and an action other than ours: nothing.
    QVERIFY(signal(service, QStringLiteral("ActionInvoked"), {uint(999), QStringLiteral("default")}));
    QVERIFY(signal(service, QStringLiteral("ActionInvoked"), {first, QStringLiteral("other")}));
    // Our action opens the folder of that notice.
    QVERIFY(signal(service, QStringLiteral("ActionInvoked"), {second, QStringLiteral("default")}));
    QTRY_COMPARE(opened, QStringList{QStringLiteral("/out/two")});
    // A notice closed is gone: its action no longer reaches the program.
    QVERIFY(signal(service, QStringLiteral("NotificationClosed"), {first, uint(2)}));
    QVERIFY(signal(service, QStringLiteral("ActionInvoked"), {first, QStringLiteral("default")}));
    QVERIFY(signal(service, QStringLiteral("ActionInvoked"), {second, QStringLiteral("default")}));
    QTRY_COMPARE(opened.size(), 2);
    QCOMPARE(opened, (QStringList{QStringLiteral("/out/two"), QStringLiteral("/out/two")}));
  }

  void cleanupTestCase() {
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    QDBusConnection::disconnectFromBus(QStringLiteral("program"));
    if (daemon_.state() != QProcess::NotRunning) {
      daemon_.terminate();
      if (!daemon_.waitForFinished(3000)) daemon_.kill();
      daemon_.waitForFinished(3000);
    }
  }
};

QTEST_MAIN(TestBatchNotice)
#include "test_batchnotice.moc"
