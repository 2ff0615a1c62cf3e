// Compiled with the engine's include paths: must fail, QWidget is not there.
#include "engine/batchdriver.h"
#include <QWidget>
