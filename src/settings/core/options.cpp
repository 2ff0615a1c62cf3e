#include "settings/core/options.h"

OptionValues& options() {
  static OptionValues values;
  return values;
}
