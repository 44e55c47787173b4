#pragma once

#include "capture/ClipboardText.h"
#include "capture/GlobalHotkeys.h"

#include <QtGlobal>

#include <memory>

class QWidget;

// The platform's services that need the GUI application (oxle_platform_gui); the command line never links
// them. Each needs a QGuiApplication, and what it returns must not outlive it.
namespace oxle::platform {

// The global keys of the display the application runs on; one that does nothing where there are none.
std::unique_ptr<GlobalHotkeys> createGlobalHotkeys();
// Brings window (its top-level) to the front with keyboard focus in answer to a user action outside our
// windows, timestamp being the action's time on the display server (0 when unknown), so that the window
// manager's focus-stealing prevention lets it take the keyboard; a window not on screen yet is activated once
// it is.
void activateWithTimestamp(QWidget *window, quint32 timestamp);
// Reads the clipboard's text.
ClipboardReader clipboardReader();

} // namespace oxle::platform
