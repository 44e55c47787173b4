#pragma once

#include <QKeyCombination>
#include <QObject>
#include <optional>

namespace oxle {

// System-wide keyboard shortcuts that work whatever application is in front. Each registration has an id
// unique in the process; a press of its keys emits activated() on the main thread, always after the
// platform's event callback has returned, never inside it.
//
// A combination that cannot be had (another application owns it, or the desktop offers no global keys) is
// silently unavailable: the commands stay reachable from the menus and the command line.
class GlobalHotkeys : public QObject
{
    Q_OBJECT
public:
    static constexpr quint32 captureId = 1;
    static constexpr quint32 saveTabId = 2;
    // Ctrl+Shift+U is the Unicode-input key of the input methods and Ctrl+Shift+S is Save As, hence Alt.
    static constexpr QKeyCombination defaultCaptureKeys { Qt::ControlModifier | Qt::AltModifier, Qt::Key_U };
    static constexpr QKeyCombination defaultSaveTabKeys { Qt::ControlModifier | Qt::AltModifier, Qt::Key_S };

    using QObject::QObject;

    // Registers keys under id, replacing an earlier registration of that id. False when the keys are
    // unavailable. Backends that learn the outcome later answer true while the request is under way and
    // report the outcome through availabilityChanged().
    virtual bool registerHotkey(quint32 id, QKeyCombination keys) = 0;
    // Releases the keys of id; a later press is not delivered. Unknown ids are ignored.
    virtual void unregisterHotkey(quint32 id) = 0;
    // The combination that really triggers id, for showing it beside the menu entry; nothing while it is
    // unavailable or bound to keys this process cannot name.
    virtual std::optional<QKeyCombination> inUse(quint32 id) const = 0;

Q_SIGNALS:
    // timestamp: the X server time of the key press, 0 when the platform does not say.
    void activated(quint32 id, quint32 timestamp);
    // inUse() changed without a call to registerHotkey/unregisterHotkey (an asynchronous answer, a keyboard
    // mapping change, the user rebinding a key in the desktop's settings).
    void availabilityChanged();
};

// For platforms without global keys: everything is unavailable.
class NullGlobalHotkeys final : public GlobalHotkeys
{
    Q_OBJECT
public:
    using GlobalHotkeys::GlobalHotkeys;

    bool registerHotkey(quint32 /*id*/, QKeyCombination /*keys*/) override { return false; }
    void unregisterHotkey(quint32 /*id*/) override { }
    std::optional<QKeyCombination> inUse(quint32 /*id*/) const override { return std::nullopt; }
};

} // namespace oxle
