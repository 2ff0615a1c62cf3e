#include "ui/frmsuggest.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>

#include "texts/texts.h"
#include "ui/pixellayout.h"
#include "ui/formhelpers.h"

#ifndef VANTREL_FEEDBACK_BASE
#define VANTREL_FEEDBACK_BASE "http://feedback.vantrel.invalid"
#endif

namespace {
QString& baseOverride() {
  static QString base;
  return base;
}

// A request that never ends would leave the form at "正在发送..." for good.
constexpr int kRequestTimeoutMs = 30000;

QLabel* makeLabel(QWidget* parent, const QString& text, int x, int y, int w) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(x, y, w, 14);
  return label;
}

QLineEdit* makeField(QWidget* parent, int maxLength, const QString& tip, int x, int y, int w) {
  auto* field = new QLineEdit(parent);
  field->setGeometry(x, y, w, 21);
  field->setMaxLength(maxLength);
  if (!tip.isEmpty()) field->setToolTip(tip);
  return field;
}
}  // namespace

frmSuggest::frmSuggest(QWidget* parent) : QDialog(parent) { Form_Load(); }

frmSuggest::~frmSuggest() {
  // A request still under way is dropped with the form; its end must not
  // reach controls that are already gone.
  for (QNetworkReply* reply : wb->findChildren<QNetworkReply*>()) reply->disconnect(this);
  delete wb;
}

void frmSuggest::Form_Load() {
  setWindowTitle(QStringLiteral("建议和意见"));
  setFixedSize(281, 139);

  // Created in tab order: name, e-mail, comment, then the two buttons.
  Label1 = makeLabel(this, QStringLiteral("姓名："), 30, 22, 36);
  txtName = makeField(this, 50, QStringLiteral("Your Name"), 74, 18, 141);
  Label2 = makeLabel(this, QStringLiteral("EMAIL："), 20, 48, 46);
  txtEMail = makeField(this, 100, QStringLiteral("Email"), 74, 44, 141);
  Label3 = makeLabel(this, QStringLiteral("留言："), 28, 74, 36);
  txtComment = makeField(this, 256, QString(), 74, 70, 189);

  Command3 = new QPushButton(QStringLiteral("发送"), this);
  Command3->setGeometry(122, 98, 67, 25);
  Command4 = new QPushButton(QStringLiteral("返回"), this);
  Command4->setGeometry(198, 98, 65, 25);
  // Enter in a field does not send by itself; "发送" has to be pressed.
  Command3->setAutoDefault(false);
  Command4->setAutoDefault(false);

  lblSending = new QLabel(this);
  // Two lines left of the buttons: a failure names its reason below "发送失败".
  lblSending->setGeometry(16, 98, 104, 30);
  lblSending->setWordWrap(true);
  lblSending->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  lblSending->hide();
  applyFixedPixelLayout(this);  // once every control is there

  wb = new QNetworkAccessManager(this);

  connect(Command3, &QPushButton::clicked, this, &frmSuggest::Command3_Click);
  connect(Command4, &QPushButton::clicked, this, &frmSuggest::Command4_Click);
  txtName->setFocus();
}

void frmSuggest::Command3_Click() { imgSend_Click(); }
void frmSuggest::imgSend_Click() { Command1_Click(); }
void frmSuggest::Command4_Click() { imgBack_Click(); }
void frmSuggest::imgBack_Click() { close(); }

void frmSuggest::prompt(const QString& text, QLineEdit* field) {
  lblSending->setText(text);
  lblSending->show();
  field->setFocus();
}

void frmSuggest::Command1_Click() {
  // A text of blanks counts as filled.
  if (txtName->text().isEmpty()) return prompt(QStringLiteral("您的姓名？"), txtName);
  if (txtEMail->text().isEmpty()) return prompt(QStringLiteral("您的Email？"), txtEMail);
  if (txtComment->text().isEmpty()) return prompt(QStringLiteral("您的意见？"), txtComment);

  lblSending->setText(QStringLiteral("正在发送..."));
  lblSending->show();
  Command3->setEnabled(false);

  const QUrl address =
      requestAddress(feedbackBase(), txtName->text(), txtEMail->text(), txtComment->text());
  QNetworkRequest request(address);
  request.setTransferTimeout(kRequestTimeoutMs);
  QNetworkReply* reply = wb->get(request);
  // The reply belongs to wb: closing the form drops a request under way.
  connect(reply, &QNetworkReply::finished, this, [this, reply] {
    reply->deleteLater();
    wb_DocumentComplete(reply);
  });
}

void frmSuggest::wb_DocumentComplete(QNetworkReply* reply) {
  using Texts::SendFault;
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  const bool taken = reply->error() == QNetworkReply::NoError && status >= 200 && status < 300;
  if (taken) {
    lblSending->setText(Texts::feedbackDone());
  } else {
    SendFault fault = SendFault::Other;
    if (status > 0) {
      fault = SendFault::Status;
    } else {
      switch (reply->error()) {
        case QNetworkReply::ConnectionRefusedError:
        case QNetworkReply::RemoteHostClosedError:
          fault = SendFault::Refused;
          break;
        case QNetworkReply::HostNotFoundError: fault = SendFault::NoHost; break;
        case QNetworkReply::TimeoutError:
        case QNetworkReply::OperationCanceledError:  // the transfer timeout aborts
          fault = SendFault::TimedOut;
          break;
        default: break;
      }
    }
    lblSending->setText(Texts::feedbackFailed(fault, status));
    Command3->setEnabled(true);  // the comment is still there: it may be sent again
  }
  Q_EMIT sendFinished(taken);
}

QUrl frmSuggest::requestAddress(const QString& base, const QString& name, const QString& email,
                                const QString& comment) {
  QString root = base;
  while (root.endsWith(QLatin1Char('/'))) root.chop(1);
  const QByteArray address = root.toUtf8() + "/suggest/post.php?name=" +
                             QUrl::toPercentEncoding(name) + "&age=" +
                             QUrl::toPercentEncoding(email) + "&comment=(Vantrel)" +
                             QUrl::toPercentEncoding(comment);
  return QUrl::fromEncoded(address);
}

QString frmSuggest::feedbackBase() {
  if (!baseOverride().isEmpty()) return baseOverride();
  return QStringLiteral(VANTREL_FEEDBACK_BASE);
}

void frmSuggest::setFeedbackBase(const QString& base) { baseOverride() = base; }

// Moving the form by its body, as the main window does.
void frmSuggest::mousePressEvent(QMouseEvent* event) {
  drag_.press(event->button());
  QDialog::mousePressEvent(event);
}

void frmSuggest::mouseMoveEvent(QMouseEvent* event) {
  drag_.move(this, event->buttons());
  QDialog::mouseMoveEvent(event);
}
