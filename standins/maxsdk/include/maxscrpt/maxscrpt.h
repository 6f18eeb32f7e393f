// The MAXScript listener window, as far as plug-ins print to it.
#pragma once

#include "../max.h"

// printf into the listener window.
ScripterExport void mprintf(const MCHAR* format, ...) __attribute__((format(printf, 1, 2)));
