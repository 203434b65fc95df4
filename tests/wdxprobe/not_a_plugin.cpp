// A shared library that loads fine but is no WDX plugin: it exports none of the entry points.
#include "platform/platform.h"

WDX_EXPORT int WDX_CALL NotAPlugin() { return 1; }
