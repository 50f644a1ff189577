#pragma once
// The plugin of this loaded library: created at process attach, gone after detach.

#include "host/plugin.h"

namespace sfh56::dll {

// Null outside the time between process attach and detach.
Plugin* LoadedPlugin();

}  // namespace sfh56::dll
