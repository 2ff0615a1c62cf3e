#include "common/dialects.h"

#include "protocol/names.h"

#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#include "common/console.h"

namespace toolkit {
namespace {

[[noreturn]] void usage(const QString& message) { throw ToolError(message, Reason::Usage); }

QString takeValue(const QStringList& args, int& i) {
  if (i + 1 >= args.size()) usage(QStringLiteral("%1 needs a value").arg(args[i]));
  return args[++i];
}

// "key=value:key=value" into `into`; later keys replace earlier ones.
void readSubOptions(const QString& option, const QString& text, QMap<QString, QString>& into) {
  for (const QString& part : text.split(QLatin1Char(':'))) {
    const qsizetype eq = part.indexOf(QLatin1Char('='));
    if (eq <= 0) usage(QStringLiteral("%1: %2 is not key=value").arg(option, part));
    into[part.left(eq).trimmed()] = part.mid(eq + 1);
  }
}

void rejectUnknownKeys(const QString& option, const QMap<QString, QString>& keys,
                       const QStringList& known) {
  for (auto it = keys.cbegin(); it != keys.cend(); ++it)
    if (!known.contains(it.key()))
      usage(QStringLiteral("%1: %2 is not supported; only %3").arg(option, it.key(), known.join(QStringLiteral(", "))));
}

bool isBlank(const QString& v) { return v.trimmed().isEmpty(); }

Setting<double> bitrateSetting(const QString& option, const QString& text) {
  static const QRegularExpression onlyK(QStringLiteral("^[kK]*$"));
  if (onlyK.match(text.trimmed()).hasMatch()) return Setting<double>::empty();
  const auto v = parseBitrate(text);
  if (!v) usage(QStringLiteral("%1 %2 is not a bitrate such as 128k").arg(option, text));
  return Setting<double>::of(*v);
}

Setting<double> kbpsSetting(const QString& option, const QString& text) {
  if (isBlank(text)) return Setting<double>::empty();
  QString t = text.trimmed();
  if (t.endsWith(QLatin1Char('k')) || t.endsWith(QLatin1Char('K'))) t.chop(1);  // "128k" is kbit/s too
  const auto v = parseDecimal(t);
  if (!v) usage(QStringLiteral("%1%2 is not a bitrate in kbit/s").arg(option, text));
  return Setting<double>::of(*v);
}

Setting<Rational> frameRateSetting(const QString& option, const QString& text) {
  if (isBlank(text)) return Setting<Rational>::empty();
  const auto v = parseFrameRate(text);
  if (!v) usage(QStringLiteral("%1 %2 is not a frame rate such as 25 or 29.97").arg(option, text));
  return Setting<Rational>::of(*v);
}

}  // namespace

Request parseMencoderStyle(const QStringList& args) {
  Request r;
  QString oac, ovc, of;
  QMap<QString, QString> lavc, lame, lavf;
  bool haveOutput = false;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("-oac")) {
      oac = takeValue(args, i);
    } else if (a == QLatin1String("-ovc")) {
      ovc = takeValue(args, i);
    } else if (a == QLatin1String("-lameopts")) {
      readSubOptions(a, takeValue(args, i), lame);
    } else if (a == QLatin1String("-lavcopts")) {
      readSubOptions(a, takeValue(args, i), lavc);
    } else if (a == QLatin1String("-lavfopts")) {
      readSubOptions(a, takeValue(args, i), lavf);
    } else if (a == QLatin1String("-ofps")) {
      r.frameRate = frameRateSetting(a, takeValue(args, i));
    } else if (a == QLatin1String("-of")) {
      of = takeValue(args, i);
    } else if (a == QLatin1String("-o")) {
      r.output = takeValue(args, i);
      haveOutput = true;
    } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
      usage(QStringLiteral("unknown option %1").arg(a));
    } else {
      if (!r.source.isEmpty()) usage(QStringLiteral("more than one source: %1").arg(a));
      r.source = a;
    }
  }
  if (!haveOutput) usage(QStringLiteral("-o is missing"));
  rejectUnknownKeys(QStringLiteral("-lavcopts"), lavc,
                    {QStringLiteral("vcodec"), QStringLiteral("vbitrate"), QStringLiteral("acodec"),
                     QStringLiteral("abitrate"), QStringLiteral("vpass")});
  rejectUnknownKeys(QStringLiteral("-lameopts"), lame, {QStringLiteral("preset")});
  rejectUnknownKeys(QStringLiteral("-lavfopts"), lavf, {QStringLiteral("format")});

  if (ovc != QLatin1String("lavc"))
    usage(ovc.isEmpty() ? QStringLiteral("-ovc is missing") : QStringLiteral("-ovc %1 is not supported; only lavc").arg(ovc));
  const QString vcodec = lavc.value(QStringLiteral("vcodec"), QStringLiteral("mpeg4"));
  r.videoCodec = videoCodecByName(vcodec);
  if (!r.videoCodec) usage(QStringLiteral("vcodec=%1 is not supported; use mpeg4 or mpeg2video").arg(vcodec));
  if (lavc.contains(QStringLiteral("vbitrate"))) {
    r.videoKbps = kbpsSetting(QStringLiteral("vbitrate="), lavc.value(QStringLiteral("vbitrate")));
    // mencoder reads values above 16000 as bit/s
    if (r.videoKbps.state == Setting<double>::Set && r.videoKbps.value > 16000) r.videoKbps.value /= 1000;
  }
  if (lavc.contains(QStringLiteral("vpass")) && lavc.value(QStringLiteral("vpass")).trimmed() != QLatin1String("1"))
    usage(QStringLiteral("vpass=%1 is not supported; the tool encodes in one pass").arg(lavc.value(QStringLiteral("vpass"))));

  if (oac == QLatin1String("mp3lame")) {
    r.audioCodec = AudioCodec::MP3;
    if (lame.contains(QStringLiteral("preset"))) {
      const QString preset = lame.value(QStringLiteral("preset")).trimmed().toLower();
      static const QMap<QString, int> quality = {{QStringLiteral("medium"), 4},
                                                 {QStringLiteral("standard"), 2},
                                                 {QStringLiteral("extreme"), 0}};
      if (quality.contains(preset))
        r.mp3Quality = quality.value(preset);
      else if (preset == QLatin1String("insane"))
        r.audioKbps = Setting<double>::of(320);
      else
        r.audioKbps = kbpsSetting(QStringLiteral("preset="), preset);
    }
  } else if (oac == QLatin1String("lavc")) {
    const QString acodec = lavc.value(QStringLiteral("acodec"), QStringLiteral("mp2"));
    r.audioCodec = audioCodecByName(acodec);
    if (!r.audioCodec || r.audioCodec == AudioCodec::AMRNB)
      usage(QStringLiteral("acodec=%1 is not supported; use mp2, ac3, libmp3lame or aac").arg(acodec));
    if (lavc.contains(QStringLiteral("abitrate")))
      r.audioKbps = kbpsSetting(QStringLiteral("abitrate="), lavc.value(QStringLiteral("abitrate")));
  } else {
    usage(oac.isEmpty() ? QStringLiteral("-oac is missing")
                        : QStringLiteral("-oac %1 is not supported; use mp3lame or lavc").arg(oac));
  }

  if (of == QLatin1String("avi")) {
    r.askedFormat = of;
    r.askedText = QStringLiteral("-of avi");
    // The work file between the two stages (tmp.mp4, in the work folder or
    // in a lane's folder below it) is the AVI the line asks for; only a file
    // the user receives is what its extension says.
    r.formatDecides = QFileInfo(r.output).fileName() == ToolProtocol::workFileName();
  } else if (of == QLatin1String("lavf")) {
    if (lavf.contains(QStringLiteral("format"))) {
      r.askedFormat = lavf.value(QStringLiteral("format")).trimmed();
      r.askedText = QStringLiteral("-lavfopts format=") + r.askedFormat;
    }
  } else if (!of.isEmpty()) {
    usage(QStringLiteral("-of %1 is not supported; use avi or lavf").arg(of));
  }
  return r;
}

Request parseFfmpegStyle(const QStringList& args) {
  Request r;
  QStringList outputs;
  bool haveSource = false;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("-y")) {
      // Taken as ffmpeg takes it, but no output ever replaces a file: a taken
      // name gives way to the next free one.
    } else if (a == QLatin1String("-vn")) {
      r.noVideo = true;
    } else if (a == QLatin1String("-i")) {
      if (haveSource) usage(QStringLiteral("only one -i is taken"));
      r.source = takeValue(args, i);
      haveSource = true;
    } else if (a == QLatin1String("-s")) {
      const QString v = takeValue(args, i);
      if (isBlank(v)) {
        r.size = Setting<QSize>::empty();
      } else {
        const auto s = parseSize(v);
        if (!s) usage(QStringLiteral("-s %1 is not a picture size such as 320x240").arg(v));
        r.size = Setting<QSize>::of(*s);
      }
    } else if (a == QLatin1String("-vcodec")) {
      const QString v = takeValue(args, i);
      r.videoCodec = videoCodecByName(v);
      if (!r.videoCodec) usage(QStringLiteral("-vcodec %1 is not supported; use rv10, mpeg4, mpeg2video or h264").arg(v));
    } else if (a == QLatin1String("-acodec")) {
      const QString v = takeValue(args, i);
      r.audioCodec = audioCodecByName(v);
      if (!r.audioCodec) usage(QStringLiteral("-acodec %1 is not supported; use amr_nb, ac3, mp2, mp3 or aac").arg(v));
    } else if (a == QLatin1String("-b")) {
      r.videoKbps = bitrateSetting(a, takeValue(args, i));
    } else if (a == QLatin1String("-ab")) {
      r.audioKbps = bitrateSetting(a, takeValue(args, i));
    } else if (a == QLatin1String("-ar")) {
      const QString v = takeValue(args, i);
      if (isBlank(v)) {
        r.sampleRate = Setting<double>::empty();
      } else {
        const auto rate = parseSampleRate(v);
        if (!rate || *rate <= 0) usage(QStringLiteral("-ar %1 is not a sample rate such as 44100").arg(v));
        r.sampleRate = Setting<double>::of(*rate);
      }
    } else if (a == QLatin1String("-ac")) {
      const QString v = takeValue(args, i);
      if (isBlank(v)) {
        r.channels = Setting<int>::empty();
      } else {
        bool ok = false;
        const int n = v.trimmed().toInt(&ok);
        if (!ok || n < 0) usage(QStringLiteral("-ac %1 is not a channel count").arg(v));
        r.channels = Setting<int>::of(n);
      }
    } else if (a == QLatin1String("-f")) {
      r.askedFormat = takeValue(args, i).trimmed();
      if (r.askedFormat.isEmpty()) usage(QStringLiteral("-f needs a format name"));
      r.askedText = QStringLiteral("-f ") + r.askedFormat;
    } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
      usage(QStringLiteral("unknown option %1").arg(a));
    } else {
      outputs << a;
    }
  }
  if (!haveSource) usage(QStringLiteral("-i is missing"));
  if (outputs.isEmpty()) usage(QStringLiteral("no output file given"));
  if (outputs.size() > 1) usage(QStringLiteral("unexpected argument %1").arg(outputs.first()));
  r.output = outputs.first();
  return r;
}

}  // namespace toolkit
