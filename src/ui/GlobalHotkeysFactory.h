#pragma once

#include "capture/GlobalHotkeys.h"

#include <memory>

namespace oxle {

// The global keys of the platform the application runs on: key grabs on an X11 display, the desktop portal
// on Wayland (unavailable, after an asynchronous check, where the desktop lacks it), nothing elsewhere.
// Needs the GUI application; the result must not outlive it.
std::unique_ptr<GlobalHotkeys> createGlobalHotkeys();

} // namespace oxle
