#include "core/Errors.h"

namespace oxle {

const char *Error::what() const noexcept
{
    m_what = description().toUtf8();
    return m_what.constData();
}

QString AuthError::description() const
{
    switch (m_kind) {
    case Kind::Server:
        return m_message;
    case Kind::Cancelled:
        return QStringLiteral("Sign in was cancelled.");
    case Kind::NoSession:
        return QStringLiteral("Sign in did not return a session.");
    }
    return m_message;
}

QString describeCurrentException()
{
    try {
        throw;
    } catch (const Error &error) {
        return error.description();
    } catch (const std::exception &error) {
        return QString::fromLocal8Bit(error.what());
    } catch (...) {
        return {};
    }
}

} // namespace oxle
