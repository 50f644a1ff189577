#pragma once
// The plugin of this loaded library: created at process attach, gone after detach.

#include "host/plugin.h"

namespace sfh56::dll {

// Null outside the time between process attach and detach.
Plugin* LoadedPlugin();

// Keeps the library loaded for as long as a receiver object exists, and lets it go once
// none does; called after every open and close. A receiver thread cannot end while the
// loader runs the library's unload (it needs the loader's lock to exit), so an unload
// with a live receiver would wait out the close's time limit and then unmap code the
// thread still runs. With this hold, a host that unloads an open plugin leaves it loaded
// and open until the process ends, and a receiver left alive by a failed close keeps
// its code.
void UpdateLibraryHold() noexcept;

}  // namespace sfh56::dll
