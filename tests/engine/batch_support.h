#pragma once
// A program folder with fake encoders, and a main window wired to recording
// stand-ins, for driving batches without a desktop.
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "fakes_support.h"
#include "settings/core/appdirs.h"
#include "settings/core/options.h"
#include "ui/desktop.h"
#include "ui/dialogbackend.h"
#include "ui/frmmain.h"

class RecordingShell : public DesktopShell {
 public:
  void openFolder(const QString& folder) override { opened << folder; }
  void openUrl(const QUrl& url) override { urls << url; }
  void playSound(const QString& file, std::function<void()> done) override {
    sounds << file;
    done();
  }
  QStringList opened, sounds;
  QList<QUrl> urls;
};

class NoDialogs : public DialogBackend {
 public:
  std::optional<QString> openFile(QWidget*, const QString&, const QString&, const QString&,
                                  const QString&) override {
    return std::nullopt;
  }
  std::optional<QString> existingFolder(QWidget*, const QString&, const QString&) override {
    return std::nullopt;
  }
};

// The fake encoder: logs its call, finds its input and output like the real
// ones, and behaves by the source's name: "bad" fails after writing part of its
// output, "slow" keeps running, anything else converts.
inline const char* kFakeTool = R"SH(
log="$(dirname "$0")/../calls.log"
in=""; out=""; prev=""; last=""
for a in "$@"; do
  [ "$prev" = "-i" ] && in="$a"
  [ "$prev" = "-o" ] && out="$a"
  prev="$a"; last="$a"
done
[ -z "$out" ] && out="$last"
[ -z "$in" ] && in="$1"
[ -e "$out" ] && echo "STALE $out" >> "$log"
echo "$(basename "$0")|$in|$out" >> "$log"
body="$in"
[ -f "$in" ] && body="$(cat "$in")"
case "$body" in *slow*) echo "Duration: 01:00:00.00, start: 0"; echo "Pos: 1s (10%)"; echo partial > "$out"; sleep 30;; esac
case "$body" in *bad*) echo partial > "$out"; echo "Error: not a media file"; exit 1;; esac
echo "Duration: 00:00:02.00, start: 0"
echo "Pos: 1.0s 25f (50%)  time=1.00 bitrate"
echo "$body" > "$out"
echo "(100%)"
)SH";

struct BatchRig {
  QTemporaryDir root;
  QString app, out, cache;
  RecordingPrompter boxes;
  RecordingShell shell;
  NoDialogs dialogs;
  std::unique_ptr<frmMain> w;

  BatchRig() {
    app = root.filePath("app");
    out = root.filePath("out");
    cache = root.filePath("cache");
    qputenv("XDG_CACHE_HOME", cache.toUtf8());
    QDir().mkpath(app + "/data");
    for (const char* tool : {"conv", "coder", "coder2"}) writeScript(app + "/data/" + tool, kFakeTool);
    AppDirs::setProgramFolder(app);
    options() = OptionValues{};
    w = std::make_unique<frmMain>(frmMain::Services{&dialogs, &shell});
    w->txtPath->setText(out);
  }
  ~BatchRig() { AppDirs::setProgramFolder(QString()); }

  QString source(const QString& name) {
    QFile f(root.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(name.toUtf8());
    return f.fileName();
  }
  QStringList calls() const {
    QFile f(app + "/calls.log");
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
  }
  bool runBatch(int timeoutMs = 20000) {
    QSignalSpy ended(&w->driver, &BatchDriver::batchEnded);
    w->Command3->click();
    return ended.wait(timeoutMs);
  }
  QStringList outputs() const { return QDir(out).entryList(QDir::Files, QDir::Name); }
};
