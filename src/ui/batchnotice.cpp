#include "ui/batchnotice.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include "texts/texts.h"

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kOpenAction = QStringLiteral("default");
// Notices of other programs are not ours to act on; more than this many of
// ours unclosed means the service does not report closing.
constexpr qsizetype kMaxKept = 64;
}  // namespace

BatchNotice::BatchNotice(const QDBusConnection& bus,
                         std::function<void(const QString&)> openFolder, QObject* parent)
    : QObject(parent), bus_(bus), openFolder_(std::move(openFolder)) {
  if (!bus_.isConnected()) return;
  bus_.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
               SLOT(onAction(uint, QString)));
  bus_.connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
               SLOT(onClosed(uint, uint)));
}

void BatchNotice::show(const QString& body, const QString& actionLabel, const QString& folder) {
  if (!bus_.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                     QStringLiteral("Notify"));
  call << Texts::productName() << uint(0) << QStringLiteral("vantrel") << Texts::productName()
       << body << QStringList{kOpenAction, actionLabel} << QVariantMap() << int(-1);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, folder](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusPendingReply<uint> reply = *w;
    if (reply.isError()) return;  // no service: the notice is simply not shown
    if (folders_.size() >= kMaxKept) folders_.clear();
    folders_.insert(reply.value(), folder);
    Q_EMIT shown(reply.value());
  });
}

void BatchNotice::onAction(uint id, const QString& action) {
  const auto it = folders_.constFind(id);
  if (it == folders_.cend() || action != kOpenAction) return;
  if (openFolder_) openFolder_(*it);
}

void BatchNotice::onClosed(uint id, uint) { folders_.remove(id); }
