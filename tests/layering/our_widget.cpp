// Compiled with the engine's include paths: must fail, the window's headers
// are not there.
#include "engine/batchdriver.h"
#include "ui/dialogbackend.h"
