#include "core/Ids.h"

#include <QRandomGenerator>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <limits>
#include <sys/random.h>

namespace oxle {

static_assert(sizeof(idAlphabet) == 64 + 1, "the id alphabet must have exactly 64 symbols");

namespace {

// Fills the buffer from getrandom(2), retrying interrupted and short reads. Returns false only when the kernel
// source itself is unavailable (for example ENOSYS under an old seccomp policy).
bool fillFromKernel(unsigned char *buffer, size_t size)
{
    size_t filled = 0;
    while (filled < size) {
        const ssize_t n = ::getrandom(buffer + filled, size - filled, 0);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        filled += size_t(n);
    }
    return true;
}

} // namespace

QString makeId()
{
    std::array<unsigned char, idLength> bytes {};
    if (!fillFromKernel(bytes.data(), bytes.size())) {
        // QRandomGenerator::system() is also a cryptographically secure source (it reads the same kernel pool
        // through other means when it can), so ids stay unpredictable rather than failing the save.
        for (unsigned char &byte : bytes)
            byte = static_cast<unsigned char>(QRandomGenerator::system()->generate());
    }
    QString id(idLength, Qt::Uninitialized);
    QChar *out = id.data();
    for (const unsigned char byte : bytes)
        *out++ = QLatin1Char(idAlphabet[byte & 63]);
    return id;
}

qint64 millisFromSeconds(double seconds)
{
    const double millis = seconds * 1000.0;
    if (std::isnan(millis))
        return 0;
    // 2^63 is exactly representable; anything at or beyond it would overflow the cast.
    constexpr double limit = 9223372036854775808.0;
    if (millis >= limit)
        return std::numeric_limits<qint64>::max();
    if (millis < -limit)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(millis); // truncates toward zero
}

double secondsFromMillis(qint64 millis)
{
    return double(millis) / 1000.0;
}

qint64 nowMillis()
{
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return millisFromSeconds(std::chrono::duration<double>(sinceEpoch).count());
}

} // namespace oxle
