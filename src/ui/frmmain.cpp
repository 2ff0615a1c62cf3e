#include "ui/frmmain.h"

#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>

#include "runner/prompter.h"
#include "settings/core/appdirs.h"
#include "settings/core/formats.h"
#include "texts/texts.h"
#include "ui/combo.h"
#include "ui/desktop.h"
#include "ui/dialogbackend.h"
#include "ui/queuerows.h"

namespace {
QComboBox* makeBox(QWidget* parent, const QStringList& entries, bool editable, int x, int y,
                   int w) {
  auto* box = new QComboBox(parent);
  box->addItems(entries);
  box->setEditable(editable);
  box->setInsertPolicy(QComboBox::NoInsert);
  // What the user types stands as typed: no inline completion to an entry
  // ("60" must not become "600").
  if (editable) box->setCompleter(nullptr);
  box->setGeometry(x, y, w, 22);
  return box;
}

QLabel* makeLabel(QWidget* parent, const QString& text, int x, int y, int w = 100) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(x, y, w, 14);
  return label;
}
}  // namespace

frmMain::frmMain(Services services, QWidget* parent)
    : QWidget(parent), dialogs_(services.dialogs), shell_(services.shell) {
  if (!dialogs_) dialogs_ = &defaultDialogBackend();
  if (!shell_) {
    ownShell_ = std::make_unique<DesktopShell>();
    shell_ = ownShell_.get();
  }
  buildLayout();
  nameControls();
  WindowBatchHost::Controls c;
  c.window = this;
  c.queue = &lstFile;
  c.rows = rows_;
  c.listHint = picText;
  c.format = cmbOF;
  c.videoBitrate = cmbVB;
  c.frameRate = cmbF;
  c.size = cmbS;
  c.sampleRate = cmbR;
  c.audioBitrate = cmbBR;
  c.channel = cmbChannel;
  c.outputFolder = txtPath;
  c.bar = pb;
  c.caption = lblPB;
  for (QToolButton* b : CmdToolsBar)
    if (b) c.locked << b;
  c.locked << cmbOF << cmbR << cmbBR << cmbS << cmbVB << cmbF << cmbChannel << lblFeed;
  c.start = Command3;
  host_ = std::make_unique<WindowBatchHost>(c, *shell_);
  driver_ = std::make_unique<BatchDriver>(*host_, *host_);
  setupList();
  setupSettings();
  setupChrome();
}

frmMain::~frmMain() = default;

void frmMain::buildLayout() {
  setWindowTitle(QStringLiteral("Vantrel"));
  setFixedSize(698, 455);

  static const struct {
    int index, x;
    const char* caption;
  } tools[] = {{0, 0, "添加文件"}, {1, 94, "添加文件夹"}, {2, 188, "移除文件"},
               {4, 282, "提示设置"}, {5, 376, "退出程序"}};
  for (const auto& t : tools) {
    auto* b = new QToolButton(this);
    b->setText(QString::fromUtf8(t.caption));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    b->setGeometry(t.x, 0, 95, 66);
    b->setObjectName(QStringLiteral("CmdToolsBar%1").arg(t.index));
    CmdToolsBar[t.index] = b;
  }

  imgHelp = new QLabel(this);
  imgHelp->setGeometry(635, 8, 15, 15);
  imgMin = new QLabel(this);
  imgMin->setGeometry(652, 9, 14, 14);
  imgExit = new QLabel(this);
  imgExit->setGeometry(672, 10, 15, 15);

  LV = new QTreeView(this);
  LV->setGeometry(4, 90, 455, 274);
  rows_ = new QueueRows(&lstFile, this);
  LV->setModel(rows_);
  LV->setRootIsDecorated(false);
  LV->setUniformRowHeights(true);
  LV->setSelectionMode(QAbstractItemView::SingleSelection);
  LV->setEditTriggers(QAbstractItemView::NoEditTriggers);
  LV->header()->setStretchLastSection(true);
  LV->setColumnWidth(0, 361);

  picText = new QFrame(this);
  picText->setGeometry(152, 208, 163, 21);
  lblText = new QLabel(QStringLiteral("拖拽文件到这里开始转换"), picText);
  lblText->setAlignment(Qt::AlignCenter);
  lblText->setGeometry(0, 0, 163, 21);
  txtAction = new QLineEdit(this);
  txtAction->setGeometry(-200, -200, 10, 10);
  txtAction->hide();

  lblOF = makeLabel(this, QStringLiteral("输出格式："), 490, 72);
  cmbOF = makeBox(this, Formats::formatEntries(), false, 490, 90, 189);
  lblVB = makeLabel(this, QStringLiteral("视频比特率："), 488, 126);
  cmbVB = makeBox(this, Formats::videoBitrateEntries(), true, 488, 146, 89);
  lblF = makeLabel(this, QStringLiteral("帧率："), 588, 126);
  cmbF = makeBox(this, Formats::frameRateEntries(), true, 588, 146, 89);
  lblS = makeLabel(this, QStringLiteral("视频尺寸："), 488, 184);
  cmbS = makeBox(this, Formats::sizeEntries(), true, 488, 204, 89);
  lblR = makeLabel(this, QStringLiteral("声音频率："), 588, 184);
  cmbR = makeBox(this, Formats::sampleRateEntries(), true, 588, 203, 89);
  lblBR = makeLabel(this, QStringLiteral("声音比特率："), 488, 244);
  cmbBR = makeBox(this, Formats::audioBitrateEntries(), true, 488, 265, 89);
  lblChannel = makeLabel(this, QStringLiteral("声道："), 588, 244);
  cmbChannel = makeBox(this, Formats::channelEntries(), true, 588, 265, 89);
  lblPath = makeLabel(this, QStringLiteral("输出路径："), 488, 306);
  txtPath = new QLineEdit(this);
  txtPath->setGeometry(488, 325, 137, 21);
  txtPath->setToolTip(QStringLiteral("Select a Folder to Output"));
  cmdBrowse = new QPushButton(QStringLiteral("浏览"), this);
  cmdBrowse->setGeometry(630, 326, 47, 20);
  cmdBrowse->setToolTip(QStringLiteral("Select an Output Folder"));

  Command3 = new QPushButton(Texts::startButton(), this);
  Command3->setGeometry(488, 364, 189, 59);
  lblPB = new QLabel(QStringLiteral("0%"), this);
  lblPB->setGeometry(218, 378, 160, 14);
  pb = new QProgressBar(this);
  pb->setGeometry(4, 398, 457, 21);
  pb->setRange(0, 100);
  pb->setValue(0);
  pb->setTextVisible(false);

  lblFeed = new QLabel(QStringLiteral("意见反馈"), this);
  lblFeed->setGeometry(624, 432, 48, 13);
  lblWeb = new QLabel(this);
  lblWeb->setGeometry(6, 430, 165, 13);

  connect(Command3, &QPushButton::clicked, this, &frmMain::Command3_Click);
}

void frmMain::nameControls() {
  const std::pair<QObject*, const char*> names[] = {
      {imgHelp, "imgHelp"}, {imgMin, "imgMin"},       {imgExit, "imgExit"},
      {lblFeed, "lblFeed"}, {lblWeb, "lblWeb"},       {LV, "LV"},
      {picText, "picText"}, {lblText, "lblText"},     {txtAction, "txtAction"},
      {lblOF, "lblOF"},     {cmbOF, "cmbOF"},         {lblVB, "lblVB"},
      {cmbVB, "cmbVB"},     {lblF, "lblF"},           {cmbF, "cmbF"},
      {lblS, "lblS"},       {cmbS, "cmbS"},           {lblR, "lblR"},
      {cmbR, "cmbR"},       {lblBR, "lblBR"},         {cmbBR, "cmbBR"},
      {lblChannel, "lblChannel"}, {cmbChannel, "cmbChannel"}, {lblPath, "lblPath"},
      {txtPath, "txtPath"}, {cmdBrowse, "cmdBrowse"}, {Command3, "Command3"},
      {lblPB, "lblPB"},     {pb, "pb"}};
  for (const auto& [control, name] : names) control->setObjectName(QLatin1String(name));
}

// ---- conversion --------------------------------------------------------------

void frmMain::Command3_Click() { imgStart_Click(); }
void frmMain::imgStart_Click() { driver_->start(); }

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  if (listEvent(watched, event) || chromeEvent(watched, event)) return true;
  return QWidget::eventFilter(watched, event);
}
