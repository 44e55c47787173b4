#include "core/Ids.h"

#include <QRandomGenerator>
#include <array>
#include <chrono>
#include <cmath>
#include <limits>

namespace oxle {

static_assert(sizeof(idAlphabet) == 64 + 1, "the id alphabet must have exactly 64 symbols");

QString makeId()
{
    // QRandomGenerator::system() draws from the kernel's secure source, so ids are unpredictable.
    std::array<quint32, idLength> words {};
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    QString id(idLength, Qt::Uninitialized);
    QChar *out = id.data();
    for (const quint32 word : words)
        *out++ = QLatin1Char(idAlphabet[word & 63]);
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
