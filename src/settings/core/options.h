#pragma once
#include <QtGlobal>

// The process-wide option values: loaded at start-up from options.ini and
// changed only by the options dialog.
struct OptionValues {
  qint16 soundSwitch = 0;  // 0: play the completion sound; anything else: silence
  qint16 cutterSwitch = 0;
  qint32 cutStart = 0;
  qint32 cutEnd = 0;
};

OptionValues& options();
