#pragma once
#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <functional>

// The batch-end notice on the desktop: one notification through the
// notification service of the session bus (org.freedesktop.Notifications),
// with an action that opens the output folder. Every call is asynchronous;
// without a bus or a service nothing is shown and nothing waits.
class BatchNotice : public QObject {
  Q_OBJECT
 public:
  // `openFolder` is called with the folder of a notice whose action was chosen.
  BatchNotice(const QDBusConnection& bus, std::function<void(const QString&)> openFolder,
              QObject* parent = nullptr);
  // Shows `body` under the product's name; its action, labelled
  // `actionLabel`, opens `folder`.
  void show(const QString& body, const QString& actionLabel, const QString& folder);

 Q_SIGNALS:
  // The service took a notice and gave it this id (tests wait for it).
  void shown(uint id);

 private Q_SLOTS:
  void onAction(uint id, const QString& action);
  void onClosed(uint id, uint reason);

 private:
  QDBusConnection bus_;
  std::function<void(const QString&)> openFolder_;
  QHash<uint, QString> folders_;  // notices still shown, with their folders
};
