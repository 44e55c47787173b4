#pragma once
#include <QByteArray>
#include <QString>
namespace oxle::backend {
class DbPool;
struct Context {
    DbPool *pool = nullptr;
    QByteArray jwtSecret;      // HS256 secret
    QString anonKey;           // JWT with role "anon"
    QString serviceKey;        // JWT with role "service_role"
    qint64 accessTokenTtl = 3600;   // seconds
    QString publicUrl;         // e.g. http://127.0.0.1:54321 (used as iss base and in pages)
    QString siteUrl;           // fallback redirect when redirect_to is not allowed
    // Window in which a just-rotated refresh token may still be exchanged (hosted default 10 s).
    qint64 refreshReuseIntervalSeconds = 10;
    // Pause between enrichment passes.
    int enrichmentIntervalMs = 1000;
    // Lets enrichment fetch pages from loopback addresses; only for tests that serve pages on this machine.
    bool enrichmentAllowLoopback = false;
    // The role enrichment switches to for its statements (row security does not restrict it); empty: it runs
    // as the role it logged in as, which must then see and update every user's items itself.
    QByteArray enrichmentRole = "service_role";
    // Request bodies above this size are answered with 413.
    qint64 maxBodyBytes = qint64(1024) * 1024;
    // Largest number of rows one read answers, whatever `limit` asks for (the hosted default).
    qint64 maxRows = 1000;
};
}
