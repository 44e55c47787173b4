#pragma once

namespace oxle {

// Whether the application starts when the user logs in. Implementations answer from the system's own record,
// so a change the user made elsewhere (the desktop's start-up settings) is seen at the next read.
class LoginItem
{
public:
    virtual ~LoginItem() = default;

    virtual bool isEnabled() const = 0;
    // Registers or unregisters the application; false when the system refused. Callers read isEnabled()
    // afterwards for the state that resulted.
    virtual bool setEnabled(bool enabled) = 0;
};

} // namespace oxle
