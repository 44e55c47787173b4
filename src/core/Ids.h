#pragma once

// Row identifiers and timestamps. Stored times are integer epoch milliseconds.

#include <QString>

namespace oxle {

// 64 symbols, so the low six bits of a random byte pick one with equal probability.
inline constexpr char idAlphabet[] = "useandom-26T198340PX75pxJACKVERYMINDBUSHWOLF_GQZbfghjklqvwyzrict";
inline constexpr int idLength = 21;

// A new 21-character row identifier from the operating system's secure random source.
QString makeId();

// The current time in epoch milliseconds: seconds since 1970 as a double, times 1000, truncated toward zero.
qint64 nowMillis();

// Seconds -> milliseconds, truncated toward zero. Non-finite input gives 0 and values beyond the signed 64-bit
// range are clamped, so a bad clock value can never be undefined behaviour.
qint64 millisFromSeconds(double seconds);
// A stored millisecond value as seconds since 1970.
double secondsFromMillis(qint64 millis);

} // namespace oxle
