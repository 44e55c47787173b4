#pragma once

#include "core/Keychain.h"

#include <QHash>

namespace oxle::test {

// An in-memory keychain for tests that do not exercise the Secret Service.
class MemoryKeychain : public Keychain
{
public:
    std::optional<QByteArray> read(const QString &service, const QString &account) override
    {
        const auto it = m_items.constFind(service + QLatin1Char('\n') + account);
        if (it == m_items.constEnd())
            return std::nullopt;
        return *it;
    }
    void write(const QString &service, const QString &account, const QByteArray &data) override
    {
        m_items.insert(service + QLatin1Char('\n') + account, data);
    }
    void remove(const QString &service, const QString &account) override
    {
        m_items.remove(service + QLatin1Char('\n') + account);
    }

    qsizetype count() const { return m_items.size(); }

private:
    QHash<QString, QByteArray> m_items;
};

} // namespace oxle::test
