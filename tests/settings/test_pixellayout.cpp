// The fixed pixel layout on a screen of 120 logical dpi: geometry stays in
// 96-dpi pixels and every font keeps its 96-dpi pixel height.
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTreeView>
#include <QtTest>

#include "ui/frmoptions.h"
#include "ui/pixellayout.h"
#include "settings_support.h"
#include "ui/frmsuggest.h"

class TestPixelLayout : public QObject {
  Q_OBJECT
 public:
  // An offscreen screen of 120 logical dpi (and as its base, so that Qt
  // does not turn it into a device pixel ratio).
  static void initMain() {
    static QTemporaryFile config(QDir::tempPath() + "/vantrel-screen-XXXXXX.json");
    if (!config.open()) return;
    config.write(R"({"screens": [{"name": "s120", "x": 0, "y": 0, "width": 1024, "height": 768,
                   "logicalDpi": 120, "logicalBaseDpi": 120, "dpr": 1}]})");
    config.flush();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config.fileName()));
    qputenv("QT_FONT_DPI", "120");
  }

 private Q_SLOTS:
  void initTestCase() {
    QWidget probe;
    if (probe.logicalDpiX() != 120 || probe.logicalDpiY() != 120)
      QSKIP("the platform does not take a forced dpi");
    design_ = QApplication::font().pointSizeF();
    QVERIFY(design_ > 0);
  }

  void mainWindow() {
    Sandbox sb;
    auto w = sb.start();
    QCOMPARE(w->size(), QSize(698, 455));
    QCOMPARE(w->findChild<QComboBox*>("cmbOF")->geometry(), QRect(490, 90, 189, 22));
    QCOMPARE(w->findChild<QLineEdit*>("txtPath")->geometry(), QRect(488, 325, 137, 21));
    // Across factor 0.8 for every control; the output-folder box also gets the down factor.
    QCOMPARE(w->findChild<QLineEdit*>("txtPath")->font().pointSizeF(), design_ * 0.64);
    for (QWidget* c : std::initializer_list<QWidget*>{w->findChild<QComboBox*>("cmbOF"), w->findChild<QLabel*>("lblOF"), w->findChild<QComboBox*>("cmbBR"), w->findChild<QPushButton*>("Command3"),
                                                      w->findChild<QTreeView*>("LV"), w->findChild<QLabel*>("lblText"), w->findChild<QLabel*>("lblWeb")}) {
      QVERIFY2(qFuzzyCompare(c->font().pointSizeF(), design_ * 0.8), qPrintable(c->objectName()));
      // The pixel height a font of the design size has at 96 dpi.
      QVERIFY(qAbs(QFontInfo(c->font()).pixelSize() - design_ * 96 / 72) <= 1.0);
    }
  }

  void optionsDialog() {
    Sandbox sb;
    frmOptions d;
    QCOMPARE(d.size(), QSize(305, 120));
    QCOMPARE(d.cmbSR->geometry(), QRect(74, 38, 163, 20));
    for (QWidget* c : std::initializer_list<QWidget*>{d.Label1, d.cmbSR, d.Command1, d.Command2})
      QVERIFY(qFuzzyCompare(c->font().pointSizeF(), design_ * 0.8));
  }

  // The feedback form follows the same rule as the other windows.
  void feedbackForm() {
    frmSuggest f;
    QCOMPARE(f.size(), QSize(281, 139));
    for (QWidget* c : std::initializer_list<QWidget*>{f.Label1, f.txtName, f.txtEMail, f.Command3})
      QVERIFY2(qFuzzyCompare(c->font().pointSizeF(), design_ * 0.8), qPrintable(c->objectName()));
  }

  void nestedControlsScaledOnce() {
    QWidget window;
    auto* frame = new QWidget(&window);
    auto* inner = new QLabel("x", frame);
    QFont big = window.font();
    big.setPointSizeF(20);
    frame->setFont(big);
    applyFixedPixelLayout(&window, 120, 150, inner);
    QCOMPARE(frame->font().pointSizeF(), 16.0);
    QCOMPARE(inner->font().pointSizeF(), 20 * 0.8 * 0.64);
    // At 96 dpi nothing changes.
    QWidget plain;
    auto* label = new QLabel("y", &plain);
    const QFont before = label->font();
    applyFixedPixelLayout(&plain, 96, 96);
    QCOMPARE(label->font().pointSizeF(), before.pointSizeF());
  }

 private:
  double design_ = 0;
};

QTEST_MAIN(TestPixelLayout)
#include "test_pixellayout.moc"
