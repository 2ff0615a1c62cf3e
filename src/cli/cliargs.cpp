#include "cli/cliargs.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "filelist/filesearch.h"
#include "protocol/names.h"
#include "settings/core/appdirs.h"
#include "settings/core/formats.h"

namespace {

using Formats::Param;

struct ParamOption {
  Param param;
  const char* name;
  const char* valueName;
  const char* help;
};

const ParamOption kParams[] = {
    {Formats::VideoBitrate, "video-bitrate", "kbit/s", "Video bitrate in kbit/s."},
    {Formats::FrameRate, "fps", "rate", "Frame rate."},
    {Formats::Size, "size", "WxH", "Picture size, e.g. 320x240, or \"original\"."},
    {Formats::SampleRate, "sample-rate", "Hz", "Audio sample rate in Hz."},
    {Formats::AudioBitrate, "audio-bitrate", "kbit/s", "Audio bitrate in kbit/s."},
    {Formats::Channels, "channels", "1|2", "Audio channels: 1 (mono) or 2 (stereo)."},
};

QString formatNames() {
  QStringList names;
  for (int p = 0; p < Formats::Count; ++p) names << QString::fromLatin1(Formats::format(p)->name);
  return names.join(QLatin1Char(' '));
}

// A positive decimal number within [low, high].
bool inRange(const QString& text, double low, double high) {
  static const QRegularExpression number(QStringLiteral("^\\d+(\\.\\d+)?$"));
  if (!number.match(text).hasMatch()) return false;
  const double v = text.toDouble();
  return v >= low && v <= high;
}

// Checks one value; returns an error message or nothing. `value` may be
// rewritten into the form the command lines take.
QString checkValue(Param param, QString& value) {
  switch (param) {
    case Formats::VideoBitrate:
      return inRange(value, 1, 100000) ? QString() : QStringLiteral("--video-bitrate wants kbit/s from 1 to 100000, not '%1'").arg(value);
    case Formats::FrameRate:
      return inRange(value, 1, 240) ? QString() : QStringLiteral("--fps wants a frame rate from 1 to 240, not '%1'").arg(value);
    case Formats::SampleRate:
      return inRange(value, 1000, 192000) && !value.contains(QLatin1Char('.'))
                 ? QString()
                 : QStringLiteral("--sample-rate wants whole Hz from 1000 to 192000, not '%1'").arg(value);
    case Formats::AudioBitrate:
      return inRange(value, 1, 2000) ? QString() : QStringLiteral("--audio-bitrate wants kbit/s from 1 to 2000, not '%1'").arg(value);
    case Formats::Size: {
      if (value == QLatin1String("original") || value == Formats::kOriginalSize) {
        value = Formats::kOriginalSize;
        return {};
      }
      static const QRegularExpression size(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
      const auto m = size.match(value);
      const int w = m.captured(1).toInt(), h = m.captured(2).toInt();
      if (m.hasMatch() && w >= 16 && h >= 16 && w <= 8192 && h <= 8192) return {};
      return QStringLiteral("--size wants WIDTHxHEIGHT from 16x16 to 8192x8192, or original, not '%1'").arg(value);
    }
    case Formats::Channels:
      if (value == QLatin1String("mono")) value = QStringLiteral("1");
      if (value == QLatin1String("stereo")) value = QStringLiteral("2");
      return value == QLatin1String("1") || value == QLatin1String("2")
                 ? QString()
                 : QStringLiteral("--channels wants 1 or 2, not '%1'").arg(value);
  }
  return {};
}

}  // namespace

QString formatListText() {
  QString text = QStringLiteral("index  name       extension  preset\n");
  for (int p = 0; p < Formats::Count; ++p) {
    const Formats::Format& f = *Formats::format(p);
    const Formats::Preset& pr = f.preset;
    QStringList preset;
    if (f.params & Formats::VideoBitrate) preset << QStringLiteral("video %1k").arg(pr.videoBitrate.value_or(QString()));
    if (f.params & Formats::FrameRate) preset << QStringLiteral("%1 fps").arg(pr.frameRate.value_or(QString()));
    if (f.params & Formats::Size)
      preset << QStringLiteral("size %1").arg(pr.size == Formats::kOriginalSize ? QStringLiteral("original")
                                                                                : pr.size.value_or(QString()));
    if (f.params & Formats::SampleRate) preset << QStringLiteral("%1 Hz").arg(pr.sampleRate);
    if (f.params & Formats::AudioBitrate) preset << QStringLiteral("audio %1k").arg(pr.audioBitrate);
    if (f.params & Formats::Channels) preset << (pr.channel == 0 ? QStringLiteral("mono") : QStringLiteral("stereo"));
    text += QStringLiteral("%1  %2 %3 %4  (%5)\n")
                .arg(p, 5)
                .arg(QString::fromLatin1(f.name), -10)
                .arg(QString::fromLatin1(f.extension), -10)
                .arg(preset.join(QStringLiteral(", ")), f.label);
  }
  return text;
}

std::optional<CliRequest> parseCliArguments(const QStringList& arguments, QString& error) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Converts video and audio files into one of nine formats with Vantrel's encoders.\n"
      "Folders are scanned like \"添加文件夹\" in the window."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Shows the version."));
  const QCommandLineOption format({QStringLiteral("f"), QStringLiteral("format")},
                                  QStringLiteral("Output format by name (%1) or index 0-8.").arg(formatNames()),
                                  QStringLiteral("format"));
  const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                  QStringLiteral("Output folder (default: %1).").arg(AppDirs::defaultOutputFolder()),
                                  QStringLiteral("folder"));
  const QCommandLineOption list(QStringLiteral("list-formats"), QStringLiteral("Lists the formats with their presets."));
  const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                 QStringLiteral("Prints nothing but failures and errors."));
  const QCommandLineOption json(QStringLiteral("json"),
                                QStringLiteral("Prints one JSON object per finished file on standard output."));
  const QCommandLineOption jobs({QStringLiteral("j"), QStringLiteral("jobs")},
                                QStringLiteral("Converts N files at once (default 1)."), QStringLiteral("N"),
                                QStringLiteral("1"));
  parser.addOptions({help, version, format, output, list, quiet, json, jobs});
  QList<QCommandLineOption> params;
  for (const ParamOption& p : kParams)
    params << QCommandLineOption(QString::fromLatin1(p.name),
                                 QString::fromLatin1(p.help) + QStringLiteral(" Default: the format's preset."),
                                 QString::fromLatin1(p.valueName));
  parser.addOptions(params);
  parser.addPositionalArgument(QStringLiteral("FILE|FOLDER"), QStringLiteral("Sources to convert."),
                               QStringLiteral("FILE|FOLDER..."));

  CliRequest r;
  if (!parser.parse(arguments)) {
    error = parser.errorText();
    return std::nullopt;
  }
  if (parser.isSet(help)) {
    r.action = CliRequest::Action::Help;
    r.helpText = parser.helpText() +
                 QStringLiteral("\nExit status: 0 all converted, 1 some failed, 2 bad command line;\n"
                                "stopped: 130 by Ctrl-C (SIGINT), 129 by a closed terminal (SIGHUP),\n"
                                "143 by SIGTERM. A stopped run removes its partial files and work folder.\n");
    return r;
  }
  if (parser.isSet(version)) {
    r.action = CliRequest::Action::Version;
    return r;
  }
  if (parser.isSet(list)) {
    r.action = CliRequest::Action::ListFormats;
    return r;
  }
  // An option given twice would leave one of its values unused.
  for (const QCommandLineOption& o : {format, output, jobs})
    if (parser.values(o).size() > 1) {
      error = QStringLiteral("--%1 is given more than once").arg(o.names().last());
      return std::nullopt;
    }
  if (!parser.isSet(format)) {
    error = QStringLiteral("choose an output format with -f (one of: %1; or 0-8)").arg(formatNames());
    return std::nullopt;
  }
  const auto position = Formats::positionByName(parser.value(format));
  if (!position) {
    error = QStringLiteral("unknown format '%1' (one of: %2; or 0-8)").arg(parser.value(format), formatNames());
    return std::nullopt;
  }
  const Formats::Format& f = *Formats::format(*position);
  const QString fname = QString::fromLatin1(f.name);

  // The preset first, then what the options say.
  PanelValues& v = r.panel;
  v.format = *position;
  v.videoBitrate = f.preset.videoBitrate.value_or(QString());
  v.frameRate = f.preset.frameRate.value_or(QString());
  v.size = f.preset.size.value_or(Formats::kOriginalSize);
  v.sampleRate = f.preset.sampleRate;
  v.audioBitrate = f.preset.audioBitrate;
  v.channel = f.preset.channel;
  for (int i = 0; i < int(std::size(kParams)); ++i) {
    const ParamOption& p = kParams[i];
    if (!parser.isSet(params[i])) continue;
    const QString option = QStringLiteral("--") + QString::fromLatin1(p.name);
    if (parser.values(params[i]).size() > 1) {
      error = QStringLiteral("%1 is given more than once").arg(option);
      return std::nullopt;
    }
    if (!(f.params & p.param)) {
      error = QStringLiteral("format %1 does not use %2").arg(fname, option);
      return std::nullopt;
    }
    QString value = parser.value(params[i]).trimmed();
    const QString problem = checkValue(p.param, value);
    if (!problem.isEmpty()) {
      error = problem;
      return std::nullopt;
    }
    switch (p.param) {
      case Formats::VideoBitrate: v.videoBitrate = value; break;
      case Formats::FrameRate: v.frameRate = value; break;
      case Formats::Size: v.size = value; break;
      case Formats::SampleRate: v.sampleRate = value; break;
      case Formats::AudioBitrate: v.audioBitrate = value; break;
      case Formats::Channels: v.channel = value.toInt() - 1; break;
    }
  }
  // With the original size, RMVB and RM use fixed settings: a value given for
  // them would be silently ignored.
  if (v.size == Formats::kOriginalSize) {
    for (int i = 0; i < int(std::size(kParams)); ++i)
      if ((f.sizedParams & kParams[i].param) && parser.isSet(params[i])) {
        error = QStringLiteral("format %1 uses --%2 only together with --size").arg(fname, QString::fromLatin1(kParams[i].name));
        return std::nullopt;
      }
  }

  bool ok = false;
  r.jobs = parser.value(jobs).trimmed().toInt(&ok);
  if (!ok || r.jobs < 1 || r.jobs > 64) {
    error = QStringLiteral("--jobs wants a number from 1 to 64, not '%1'").arg(parser.value(jobs));
    return std::nullopt;
  }
  r.quiet = parser.isSet(quiet);
  r.json = parser.isSet(json);
  r.outputFolder = parser.isSet(output) ? parser.value(output) : AppDirs::defaultOutputFolder();
  if (r.outputFolder.trimmed().isEmpty()) {
    error = QStringLiteral("--output wants a folder");
    return std::nullopt;
  }
  r.outputFolder = QDir::toNativeSeparators(QFileInfo(r.outputFolder).absoluteFilePath());
  if (QFileInfo(r.outputFolder).exists() && !QFileInfo(r.outputFolder).isDir()) {
    error = QStringLiteral("--output names a file, not a folder: %1").arg(r.outputFolder);
    return std::nullopt;
  }

  const QStringList paths = parser.positionalArguments();
  if (paths.isEmpty()) {
    error = QStringLiteral("name at least one file or folder to convert");
    return std::nullopt;
  }
  for (const QString& path : paths) {
    if (!ToolProtocol::isUtf8Name(path)) {
      error = QStringLiteral("the name is not valid UTF-8, rename it first: ") + path;
      return std::nullopt;
    }
    const QFileInfo info(path);
    if (!info.exists()) {
      error = QStringLiteral("no such file or folder: %1").arg(path);
      return std::nullopt;
    }
    const QString full = info.absoluteFilePath();
    if (info.isDir())
      SearchFolder(full, r.sources);
    else
      r.sources << full;
  }
  if (r.sources.isEmpty()) {
    error = QStringLiteral("the folders hold no files to convert");
    return std::nullopt;
  }
  return r;
}
