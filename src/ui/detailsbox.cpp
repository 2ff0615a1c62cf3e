#include "ui/detailsbox.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace {
// The list shows this many lines before it scrolls.
constexpr int kDetailLines = 14;
constexpr int kWidth = 560;
}  // namespace

DetailsBox::DetailsBox(QWidget* parent, const QString& caption, const QString& text,
                       const QString& details)
    : QDialog(parent) {
  setWindowTitle(caption);
  setModal(true);

  auto* icon = new QLabel(this);
  const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(side));
  icon->setAlignment(Qt::AlignTop);

  text_ = new QLabel(text, this);
  text_->setWordWrap(true);
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  details_ = new QPlainTextEdit(this);
  details_->setReadOnly(true);
  details_->setPlainText(details);
  details_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  details_->setVisible(!details.isEmpty());
  const int lineHeight = details_->fontMetrics().lineSpacing();
  details_->setMinimumHeight(lineHeight * 4);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  ok_->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* grid = new QGridLayout(this);
  grid->addWidget(icon, 0, 0, 2, 1);
  grid->addWidget(text_, 0, 1);
  grid->addWidget(details_, 1, 1);
  grid->addWidget(buttons, 2, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(1, 1);

  resize(kWidth, sizeHint().height() - details_->sizeHint().height() +
                     lineHeight * kDetailLines + 2 * details_->frameWidth());
}

void DetailsBox::showEvent(QShowEvent* event) {
  // Within the screen's free area, frame included, and centred on it when
  // it would stand out of it.
  const QScreen* screen = parentWidget() ? parentWidget()->screen() : QApplication::primaryScreen();
  if (screen) {
    const QRect free = screen->availableGeometry();
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize most = free.size() - frame;
    setMaximumSize(most);
    resize(size().boundedTo(most));
    QRect outer = frameGeometry();
    if (!free.contains(outer)) {
      outer.moveCenter(free.center());
      move(outer.topLeft().x(), outer.topLeft().y());
    }
  }
  QDialog::showEvent(event);
}
