// The frame of the main window: tool bar, command switch, hot spots, links,
// output-folder picker and moving the window by its body.
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <utility>

#include "filelist/pathhelpers.h"
#include "settings/core/appdirs.h"
#include "ui/chromeart.h"
#include "ui/desktop.h"
#include "ui/dialogbackend.h"
#include "ui/formhelpers.h"
#include "ui/frmmain.h"
#include "ui/frmsuggest.h"

#ifndef VANTREL_HOME_PAGE
#define VANTREL_HOME_PAGE "https://vantrel.invalid/"
#endif

namespace {

using ChromeArt::HotSpot;

// The command each tool-bar button runs (-1: no button at that index).
constexpr int kToolbarCommand[7] = {0, 6, 1, -1, 2, 4, -1};

// The quiet glyphs of the hot spots, painted as part of the window's
// background; the hot spots themselves show nothing until the mouse is on them.
class HotSpotBackdrop : public QWidget {
 public:
  HotSpotBackdrop(QWidget* parent, QList<QPair<HotSpot, QRect>> spots)
      : QWidget(parent), spots_(std::move(spots)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QRect all;
    for (const auto& s : spots_) all |= s.second;
    setGeometry(all);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    for (const auto& s : spots_) ChromeArt::drawRestGlyph(p, s.first, s.second.translated(-pos()));
  }

 private:
  QList<QPair<HotSpot, QRect>> spots_;
};

}  // namespace

struct frmMain::ChromeState {
  // The hidden companions holding the lit pictures.
  QPixmap imgHelpLight, imgMinLight, imgExitLight;
  BodyDrag drag;                    // a left press on the body, not yet dragged
  Qt::MouseButtons moveButtons;     // buttons held during the mouse move being handled
  bool afterDoubleClick = false;    // the release ending a double click is no second click
};
void frmMain::Drop::operator()(ChromeState* p) const {
  delete p;
}

int frmMain::toolbarCommand(int buttonIndex) {
  if (buttonIndex < 0 || buttonIndex >= 7) return -1;
  return kToolbarCommand[buttonIndex];
}

void frmMain::setupChrome() {
  chrome_ = decltype(chrome_)(new ChromeState());

  for (int i = 0; i < 7; ++i) {
    QToolButton* b = CmdToolsBar[i];
    if (!b) continue;
    b->setIcon(ChromeArt::toolbarIcon(i));
    b->setIconSize(QSize(32, 32));
    connect(b, &QToolButton::clicked, this, [this, i] { CmdToolsBar_Click(i); });
  }

  const struct {
    QLabel* spot;
    QPixmap* light;
    HotSpot art;
    const char* tip;
    Qt::CursorShape cursor;
  } spots[] = {
      {imgHelp, &chrome_->imgHelpLight, HotSpot::Help, "Help & Tutorial", Qt::WhatsThisCursor},
      {imgMin, &chrome_->imgMinLight, HotSpot::Minimise, "Minimize Window", Qt::PointingHandCursor},
      {imgExit, &chrome_->imgExitLight, HotSpot::Exit, "Exit", Qt::PointingHandCursor},
  };
  QList<QPair<HotSpot, QRect>> backdrop;
  for (const auto& s : spots) {
    *s.light = ChromeArt::litPicture(s.art, s.spot->width());
    s.spot->setToolTip(QString::fromUtf8(s.tip));
    s.spot->setCursor(s.cursor);
    s.spot->setMouseTracking(true);
    s.spot->installEventFilter(this);
    backdrop.append({s.art, s.spot->geometry()});
  }
  auto* glyphs = new HotSpotBackdrop(this, backdrop);
  glyphs->lower();

  QFont feedFont(QStringLiteral("Tahoma"));
  feedFont.setPointSize(8);
  lblFeed->setFont(feedFont);
  lblFeed->setCursor(Qt::PointingHandCursor);
  lblFeed->setToolTip(QStringLiteral("Send us your suggestion or question"));
  lblFeed->setMouseTracking(true);
  lblFeed->installEventFilter(this);

  lblWeb->setCursor(Qt::PointingHandCursor);
  lblWeb->installEventFilter(this);

  cmdBrowse->setText(QStringLiteral("浏览"));
  cmdBrowse->setToolTip(QStringLiteral("Select an Output Folder"));
  txtPath->setToolTip(QStringLiteral("Select a Folder to Output"));
  connect(cmdBrowse, &QPushButton::clicked, this, &frmMain::cmdBrowse_Click);

  // Mouse moves over the free parts of the window reach Form_MouseMove.
  setMouseTracking(true);
}

// ---- commands -------------------------------------------------------------------

void frmMain::CmdToolsBar_Click(int index) {
  const int command = toolbarCommand(index);
  if (command >= 0) imgToolbar_Click(command);
}

void frmMain::imgToolbar_Click(int index) {
  switch (index) {
    case 0: imgAdd_Click(); break;
    case 1: showRemoveMenu(); break;
    case 2: showOptionsDialog(); break;
    case 3: imgHelp_Click(); break;
    case 4: imgExit_Click(); break;
    case 6: AddFolder(); break;
    default: break;
  }
}

void frmMain::imgHelp_Click() {
  // A missing help page gives no message.
  shell_->openUrl(
      QUrl::fromLocalFile(JoinPath(AppDirs::dataFolder(), QStringLiteral("help.html"))));
  imgHelp->setPixmap(QPixmap());
}

void frmMain::imgMin_Click() {
  showMinimized();
  imgMin->setPixmap(QPixmap());
}

void frmMain::lblFeed_Click() {
  // Modal and without an owner: the main window takes no input meanwhile.
  frmSuggest form;
  form.setWindowModality(Qt::ApplicationModal);
  form.exec();
}

void frmMain::lblWeb_Click() { shell_->openUrl(QUrl(QStringLiteral(VANTREL_HOME_PAGE))); }

void frmMain::cmdBrowse_Click() { imgBrowse_Click(); }

void frmMain::imgBrowse_Click() {
  const auto folder =
      dialogs_->existingFolder(this, QStringLiteral("请选择一个文件夹:"), txtPath->text());
  // A cancelled picker puts back the default output folder.
  txtPath->setText(folder && !folder->isEmpty() ? *folder : AppDirs::defaultOutputFolder());
}

// ---- mouse ----------------------------------------------------------------------

void frmMain::Form_MouseMove() {
  // Only a drag that began with a left press on the body moves the window;
  // every move resets the hover states.
  chrome_->drag.move(this, chrome_->moveButtons);
  QFont f = lblFeed->font();
  f.setBold(false);
  lblFeed->setFont(f);
  imgHelp->setPixmap(QPixmap());
  imgMin->setPixmap(QPixmap());
  imgExit->setPixmap(QPixmap());
}

void frmMain::mousePressEvent(QMouseEvent* event) {
  chrome_->drag.press(event->button());
  QWidget::mousePressEvent(event);
}

void frmMain::mouseMoveEvent(QMouseEvent* event) {
  chrome_->moveButtons = event->buttons();
  Form_MouseMove();
  chrome_->moveButtons = Qt::NoButton;
  QWidget::mouseMoveEvent(event);
}

// Hover and click of the hot spots and the two links.
bool frmMain::chromeEvent(QObject* watched, QEvent* event) {
  QLabel* spot = nullptr;
  const QPixmap* light = nullptr;
  if (watched == imgHelp) {
    spot = imgHelp;
    light = &chrome_->imgHelpLight;
  } else if (watched == imgMin) {
    spot = imgMin;
    light = &chrome_->imgMinLight;
  } else if (watched == imgExit) {
    spot = imgExit;
    light = &chrome_->imgExitLight;
  } else if (watched == lblFeed || watched == lblWeb) {
    spot = static_cast<QLabel*>(watched);
  } else {
    return false;
  }
  // A disabled link (the feedback link during a batch) does nothing.
  if (!spot->isEnabled()) return false;

  switch (event->type()) {
    case QEvent::MouseMove:
      if (light) {
        spot->setPixmap(*light);
      } else if (spot == lblFeed) {
        QFont f = lblFeed->font();
        f.setBold(true);
        lblFeed->setFont(f);
      }
      // Handled here: the window's body must not see it and reset the states.
      event->accept();
      return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
      // Taken here, so that a press on a hot spot never starts a window move.
      chrome_->afterDoubleClick = event->type() == QEvent::MouseButtonDblClick;
      return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    case QEvent::MouseButtonRelease: {
      auto* me = static_cast<QMouseEvent*>(event);
      if (me->button() != Qt::LeftButton) return false;
      const bool second = std::exchange(chrome_->afterDoubleClick, false);
      if (second || !spot->rect().contains(me->position().toPoint())) return true;
      if (spot == imgHelp) imgHelp_Click();
      else if (spot == imgMin) imgMin_Click();
      else if (spot == imgExit) imgExit_Click();
      else if (spot == lblFeed) lblFeed_Click();
      else lblWeb_Click();
      return true;
    }
    default:
      return false;
  }
}
