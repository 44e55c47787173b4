#pragma once

#include <QNetworkReply>
#include <QString>

#include <exception>

namespace oxle {

// Base of every error the core throws. description() is the text shown to the user.
class Error : public std::exception
{
public:
    virtual QString description() const = 0;
    const char *what() const noexcept override;

private:
    mutable QByteArray m_what;
};

// Inside a catch block: the text of the exception being handled, that is an Error's description, a standard
// exception's what(), or an empty text for anything else.
QString describeCurrentException();

// Failed backend request or sign-in.
class AuthError : public Error
{
public:
    enum class Kind { Server, Cancelled, NoSession };

    static AuthError server(const QString &message) { return AuthError(Kind::Server, message); }
    static AuthError cancelled() { return AuthError(Kind::Cancelled, {}); }
    static AuthError noSession() { return AuthError(Kind::NoSession, {}); }

    Kind kind() const { return m_kind; }
    QString message() const { return m_message; }
    QString description() const override;


private:
    AuthError(Kind kind, const QString &message) : m_kind(kind), m_message(message) {}

    Kind m_kind;
    QString m_message;
};

// The HTTP client's own failure (no network, timeout, TLS, cancellation), passed on unchanged.
class NetworkError : public Error
{
public:
    NetworkError(QNetworkReply::NetworkError code, const QString &text) : m_code(code), m_text(text) {}

    QNetworkReply::NetworkError code() const { return m_code; }
    QString description() const override { return m_text; }

private:
    QNetworkReply::NetworkError m_code;
    QString m_text;
};

// A response that does not match the record it should decode to.
class DecodeError : public Error
{
public:
    explicit DecodeError(const QString &text) : m_text(text) {}
    QString description() const override { return m_text; }

private:
    QString m_text;
};

// A request body that cannot be turned into JSON; nothing was sent.
class SerializationError : public Error
{
public:
    explicit SerializationError(const QString &text) : m_text(text) {}
    QString description() const override { return m_text; }

private:
    QString m_text;
};

} // namespace oxle
