#pragma once
#include <QDialog>
#include <QUrl>

#include "ui/formhelpers.h"

class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;

// The feedback form "建议和意见": name, e-mail address and comment, sent as
// one GET request to the feedback endpoint. The status label says "完毕." only
// when the server answered 2xx; otherwise it says "发送失败" and why, and
// "发送" can be pressed again.
class frmSuggest : public QDialog {
  Q_OBJECT
 public:
  explicit frmSuggest(QWidget* parent = nullptr);
  ~frmSuggest() override;

  QLabel* Label1 = nullptr;
  QLineEdit* txtName = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* txtEMail = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* txtComment = nullptr;
  QPushButton* Command3 = nullptr;  // "发送"
  QPushButton* Command4 = nullptr;  // "返回"
  QLabel* lblSending = nullptr;
  QNetworkAccessManager* wb = nullptr;  // performs the request, never shown

  void Command1_Click();  // send
  void Command3_Click();
  void imgSend_Click();
  void Command4_Click();
  void imgBack_Click();  // close the form
  void wb_DocumentComplete(QNetworkReply* reply);

  // The request address: base + "/suggest/post.php?name=…&age=…&comment=(Vantrel)…".
  // Each typed text is percent-encoded as UTF-8, so that "&", "#", "=" or
  // "+" in a field can neither end it nor add a field of their own.
  static QUrl requestAddress(const QString& base, const QString& name, const QString& email,
                             const QString& comment);

  // Scheme and host of the feedback endpoint (the build's choice unless set).
  static QString feedbackBase();
  // Points every form opened from now on at another endpoint (tests use a
  // server of their own); an empty text restores the build's choice.
  static void setFeedbackBase(const QString& base);

 Q_SIGNALS:
  // The request has ended; `taken` when the server answered 2xx ("完毕.").
  void sendFinished(bool taken);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void Form_Load();
  void prompt(const QString& text, QLineEdit* field);

  BodyDrag drag_;
};
