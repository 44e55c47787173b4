#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace oxle {

// The platform's secure store of small secrets, addressed by service and account.
// Implementations never throw: a failure reads as a missing item and a failed write is dropped.
class Keychain
{
public:
    virtual ~Keychain() = default;

    virtual std::optional<QByteArray> read(const QString &service, const QString &account) = 0;
    // Replaces any item with the same service and account.
    virtual void write(const QString &service, const QString &account, const QByteArray &data) = 0;
    virtual void remove(const QString &service, const QString &account) = 0;
};

} // namespace oxle
