#pragma once

#include <QtGlobal>

class QWidget;

namespace oxle {

// Brings window (its top-level) to the front with keyboard focus in answer to a user action outside our
// windows, timestamp being the action's X server time (0 when unknown). On X11 the window manager learns that
// time, so its focus-stealing prevention lets the window take the keyboard from the application in front; a
// window that is not on screen yet is activated once it is. Elsewhere, and without a time, it is
// QWidget::activateWindow().
void activateWithTimestamp(QWidget *window, quint32 timestamp);

} // namespace oxle
