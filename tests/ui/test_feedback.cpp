// The feedback form: its fields, the prompts for missing fields, the request
// that reaches the endpoint and the status after it.
#include <QLabel>
#include <QLineEdit>
#include <QNetworkProxy>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

#include "chrome_support.h"
#include "ui/frmsuggest.h"

using chrometest::LoopbackServer;

class FeedbackTest : public QObject {
  Q_OBJECT

  // Opens a form pointed at `base`, shown and active so that the focus can be read.
  static std::unique_ptr<frmSuggest> openForm(const QString& base) {
    frmSuggest::setFeedbackBase(base);
    auto form = std::make_unique<frmSuggest>();
    form->show();
    form->activateWindow();
    if (!QTest::qWaitForWindowActive(form.get())) qWarning("feedback form not active");
    return form;
  }

  static void fill(frmSuggest& f, const QString& name, const QString& email,
                   const QString& comment) {
    f.txtName->setText(name);
    f.txtEMail->setText(email);
    f.txtComment->setText(comment);
  }

 private Q_SLOTS:
  void initTestCase() { QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy); }
  void cleanup() { frmSuggest::setFeedbackBase(QString()); }

  void opensEmptyWithTheDocumentedFields() {
    frmSuggest f;
    QCOMPARE(f.windowTitle(), QStringLiteral("建议和意见"));
    QCOMPARE(f.size(), QSize(281, 139));
    QCOMPARE(f.txtName->maxLength(), 50);
    QCOMPARE(f.txtEMail->maxLength(), 100);
    QCOMPARE(f.txtComment->maxLength(), 256);
    QVERIFY(f.txtName->text().isEmpty() && f.txtEMail->text().isEmpty() &&
            f.txtComment->text().isEmpty());
    QVERIFY(f.lblSending->isHidden());
    QVERIFY(f.Command3->isEnabled());
    // The controls stay inside the form's client area and apart from each other.
    const QList<QWidget*> controls = {f.Label1, f.txtName,  f.Label2,   f.txtEMail,  f.Label3,
                                      f.txtComment, f.Command3, f.Command4, f.lblSending};
    for (int i = 0; i < controls.size(); ++i) {
      QVERIFY(f.rect().contains(controls[i]->geometry()));
      for (int j = i + 1; j < controls.size(); ++j)
        QVERIFY2(!controls[i]->geometry().intersects(controls[j]->geometry()),
                 qPrintable(QStringLiteral("controls %1 and %2 overlap").arg(i).arg(j)));
    }
  }

  void focusStartsInTheNameAndTabsThroughTheFields() {
    auto f = openForm(QString());
    QTRY_COMPARE(QApplication::focusWidget(), f->txtName);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f->txtEMail);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f->txtComment);
  }

  void missingFieldIsPromptedAndNothingSent_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<int>("field");  // 0 name, 1 e-mail, 2 comment
    QTest::newRow("all empty") << "" << "" << "" << "您的姓名？" << 0;
    QTest::newRow("only name missing") << "" << "a@b" << "hi" << "您的姓名？" << 0;
    QTest::newRow("e-mail missing") << "x" << "" << "z" << "您的Email？" << 1;
    QTest::newRow("comment missing") << "x" << "y" << "" << "您的意见？" << 2;
  }
  void missingFieldIsPromptedAndNothingSent() {
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(QString, comment);
    QFETCH(QString, prompt);
    QFETCH(int, field);
    LoopbackServer server;
    QVERIFY(server.listening());
    auto f = openForm(server.base());
    fill(*f, name, email, comment);
    QTest::mouseClick(f->Command3, Qt::LeftButton);  // the button takes the focus
    QCOMPARE(f->lblSending->text(), prompt);
    QVERIFY(f->lblSending->isVisible());
    QLineEdit* fields[] = {f->txtName, f->txtEMail, f->txtComment};
    QTRY_COMPARE(QApplication::focusWidget(), fields[field]);
    QVERIFY(f->Command3->isEnabled());
    QTest::qWait(200);
    QVERIFY(server.targets.isEmpty());
  }

  void sendsOneRequestAndEndsWithDone() {
    LoopbackServer server;
    QVERIFY(server.listening());
    auto f = openForm(server.base());
    QSignalSpy finished(f.get(), &frmSuggest::sendFinished);
    fill(*f, QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z"));
    QTest::mouseClick(f->Command3, Qt::LeftButton);
    QCOMPARE(f->lblSending->text(), QStringLiteral("正在发送..."));
    QVERIFY(f->lblSending->isVisible());
    QVERIFY(!f->Command3->isEnabled());
    QTRY_COMPARE(f->lblSending->text(), QStringLiteral("完毕."));
    QCOMPARE(server.targets, QList<QByteArray>{"/suggest/post.php?name=x&age=y&comment=(Vantrel)z"});
    QCOMPARE(finished.count(), 1);
    // The send button stays disabled until the form is opened again.
    QVERIFY(!f->Command3->isEnabled());
  }

  void blankNameCountsAsFilled() {
    LoopbackServer server;
    auto f = openForm(server.base());
    fill(*f, QStringLiteral("  "), QStringLiteral(" "), QStringLiteral("z"));
    QTest::mouseClick(f->Command3, Qt::LeftButton);
    QTRY_COMPARE(f->lblSending->text(), QStringLiteral("完毕."));
    QCOMPARE(server.targets,
             QList<QByteArray>{"/suggest/post.php?name=%20%20&age=%20&comment=(Vantrel)z"});
  }

  // Delimiters typed into a field stay inside that field's value.
  void fieldTextsCannotCutOrForgeFields_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("comment");
    QTest::newRow("query delimiters") << "a&age=forged" << "me@x.org&comment=spoof"
                                      << "1+1=2; 100% sure?";
    QTest::newRow("fragment") << "#top" << "a#b" << "see #3";
    QTest::newRow("chinese") << "张三" << "李@例子.中国" << "很好用，谢谢！";
    QTest::newRow("slashes and blanks") << "../../x y" << "/?\\" << " (Vantrel) ";
  }
  void fieldTextsCannotCutOrForgeFields() {
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(QString, comment);
    LoopbackServer server;
    auto f = openForm(server.base());
    fill(*f, name, email, comment);
    QTest::mouseClick(f->Command3, Qt::LeftButton);
    QTRY_COMPARE(f->lblSending->text(), QStringLiteral("完毕."));
    QCOMPARE(server.targets.size(), 1);
    const QByteArray target = server.targets.first();
    QVERIFY2(target.startsWith("/suggest/post.php?name="), target.constData());
    const QByteArray query = target.mid(target.indexOf('?') + 1);
    QVERIFY2(!query.contains('#') && !query.contains(' ') && !query.contains('+'), query.constData());
    // Exactly three fields, in order, each decoding to what was typed.
    const QList<QByteArray> pairs = query.split('&');
    QCOMPARE(pairs.size(), 3);
    const QByteArray keys[] = {"name", "age", "comment"};
    const QString values[] = {name, email, QStringLiteral("(Vantrel)") + comment};
    for (int i = 0; i < 3; ++i) {
      const qsizetype eq = pairs[i].indexOf('=');
      QCOMPARE(pairs[i].left(eq), keys[i]);
      QCOMPARE(QUrl::fromPercentEncoding(pairs[i].mid(eq + 1)), values[i]);
    }
    QVERIFY(pairs[2].startsWith("comment=(Vantrel)"));
  }

  // "完毕." only for a 2xx answer; anything else says "发送失败" and why, and
  // the comment can be sent again.
  void onlyA2xxAnswerEndsWithDone_data() {
    QTest::addColumn<QByteArray>("status");  // empty: nothing listens on the port
    QTest::addColumn<QString>("shown");
    QTest::newRow("200") << QByteArray("200 OK") << "完毕.";
    QTest::newRow("204") << QByteArray("204 No Content") << "完毕.";
    QTest::newRow("299 edge") << QByteArray("299 Odd") << "完毕.";
    QTest::newRow("300 edge") << QByteArray("300 Multiple Choices") << "发送失败：\n服务器返回 300";
    QTest::newRow("404") << QByteArray("404 Not Found") << "发送失败：\n服务器返回 404";
    QTest::newRow("503") << QByteArray("503 Service Unavailable") << "发送失败：\n服务器返回 503";
    QTest::newRow("refused") << QByteArray() << "发送失败：\n无法连接服务器";
  }
  void onlyA2xxAnswerEndsWithDone() {
    QFETCH(QByteArray, status);
    QFETCH(QString, shown);
    std::unique_ptr<LoopbackServer> server;
    QString base;
    if (status.isEmpty()) {  // the probe closes again: nothing listens on its port
      QTcpServer probe;
      QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
      base = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
    } else {
      server = std::make_unique<LoopbackServer>(true, status);
      base = server->base();
    }
    auto f = openForm(base);
    QSignalSpy finished(f.get(), &frmSuggest::sendFinished);
    fill(*f, QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z"));
    QTest::mouseClick(f->Command3, Qt::LeftButton);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(f->lblSending->text(), shown);
    const bool done = shown == QStringLiteral("完毕.");
    QCOMPARE(finished.first().first().toBool(), done);
    QVERIFY(f->lblSending->isVisible());
    QCOMPARE(f->Command3->isEnabled(), !done);
    if (done) return;
    // Sent again, to a server that takes it this time.
    LoopbackServer good;
    frmSuggest::setFeedbackBase(good.base());
    QTest::mouseClick(f->Command3, Qt::LeftButton);
    QTRY_COMPARE(f->lblSending->text(), QStringLiteral("完毕."));
    QCOMPARE(good.targets.size(), 1);
  }

  void closingDuringARequestDropsIt() {
    LoopbackServer silent(false);
    auto f = openForm(silent.base());
    fill(*f, QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z"));
    QTest::mouseClick(f->Command3, Qt::LeftButton);
    QTRY_COMPARE(silent.targets.size(), 1);  // the request is under way, unanswered
    QCOMPARE(f->lblSending->text(), QStringLiteral("正在发送..."));
    QTest::mouseClick(f->Command4, Qt::LeftButton);  // "返回"
    QVERIFY(!f->isVisible());
    f.reset();
    QTest::qWait(100);  // the aborted request must not reach the destroyed form
  }

  void requestAddressKeepsTheBaseAndThePrefix() {
    // A base given with a closing slash does not double the path's slash.
    QCOMPARE(frmSuggest::requestAddress(QStringLiteral("https://fb.example/"), QStringLiteral("x"),
                                        QStringLiteral("y"), QString())
                 .toEncoded(),
             QByteArray("https://fb.example/suggest/post.php?name=x&age=y&comment=(Vantrel)"));
  }
};

QTEST_MAIN(FeedbackTest)
#include "test_feedback.moc"
