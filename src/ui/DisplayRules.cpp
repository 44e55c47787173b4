#include "ui/DisplayRules.h"

#include <QTextBoundaryFinder>
#include <algorithm>
#include <memory>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/simpletz.h>
#include <unicode/timezone.h>

namespace oxle::DisplayRules {

namespace {

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString fromIcu(const icu::UnicodeString &text)
{
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

icu::UnicodeString toIcu(const QString &text)
{
    return icu::UnicodeString(reinterpret_cast<const char16_t *>(text.utf16()), int32_t(text.size()));
}

// QLocale::name() loses the script (sr_Latn) and bcp47Name() drops a likely territory, so the tag is built
// from its parts.
icu::Locale icuLocale(const QLocale &locale)
{
    if (locale.language() == QLocale::C)
        return icu::Locale("en_US_POSIX");
    QString tag = QLocale::languageToCode(locale.language());
    if (locale.script() != QLocale::AnyScript)
        tag += u'-' + QLocale::scriptToCode(locale.script());
    if (locale.territory() != QLocale::AnyTerritory)
        tag += u'-' + QLocale::territoryToCode(locale.territory());
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale result = icu::Locale::forLanguageTag(tag.toStdString(), status);
    return U_SUCCESS(status) ? result : icu::Locale(locale.name().toLatin1().constData());
}

// Building an ICU formatter loads locale data; rows paint the relative time many times per frame.
icu::RelativeDateTimeFormatter *relativeFormatter(const QLocale &locale)
{
    struct Cache
    {
        std::string localeName;
        std::unique_ptr<icu::RelativeDateTimeFormatter> formatter;
    };
    thread_local Cache cache;
    const icu::Locale wanted = icuLocale(locale);
    if (!cache.formatter || cache.localeName != wanted.getName()) {
        UErrorCode status = U_ZERO_ERROR;
        auto formatter = std::make_unique<icu::RelativeDateTimeFormatter>(
            wanted, nullptr, UDAT_STYLE_SHORT, UDISPCTX_CAPITALIZATION_NONE, status);
        if (U_FAILURE(status))
            return nullptr;
        cache = { wanted.getName(), std::move(formatter) };
    }
    return cache.formatter.get();
}

// The largest calendar unit with a whole count between now and the date, each unit counted from where the
// larger ones stopped, so a month means a calendar month and a day keeps its wall-clock time across daylight
// saving. The count is truncated ("1 day" for 36 hours) and negative for the past.
std::pair<int, URelativeDateTimeUnit> largestUnit(const QDateTime &now, const QDateTime &date)
{
    const int direction = date < now ? -1 : 1;
    const auto fits = [&](const QDateTime &step) { return direction < 0 ? step >= date : step <= date; };

    QDateTime cursor = now;
    // Start from the difference of the years and step back: at most one step for any pair of dates.
    int years = std::abs(date.date().year() - now.date().year());
    while (years > 0 && !fits(cursor.addYears(direction * years)))
        --years;
    if (years > 0)
        return { direction * years, UDAT_REL_UNIT_YEAR };

    int months = 0;
    while (months < 12 && fits(cursor.addMonths(direction * (months + 1))))
        ++months;
    if (months > 0)
        return { direction * months, UDAT_REL_UNIT_MONTH };

    int days = 0;
    while (days < 31 && fits(cursor.addDays(qint64(direction) * (days + 1))))
        ++days;
    if (days >= 7)
        return { direction * (days / 7), UDAT_REL_UNIT_WEEK };
    if (days > 0)
        return { direction * days, UDAT_REL_UNIT_DAY };

    const qint64 seconds = std::abs(now.secsTo(date));
    if (seconds >= 3600)
        return { direction * int(seconds / 3600), UDAT_REL_UNIT_HOUR };
    if (seconds >= 60)
        return { direction * int(seconds / 60), UDAT_REL_UNIT_MINUTE };
    return { direction * int(seconds), UDAT_REL_UNIT_SECOND };
}

std::unique_ptr<icu::TimeZone> icuZone(const QTimeZone &zone, qint64 millis)
{
    std::unique_ptr<icu::TimeZone> result(icu::TimeZone::createTimeZone(toIcu(QString::fromLatin1(zone.id()))));
    // A zone ICU does not know comes back as "Etc/Unknown" (GMT); the offset at that moment is still right.
    if (!result || *result == icu::TimeZone::getUnknown()) {
        const int offset = zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(millis, Qt::UTC));
        result = std::make_unique<icu::SimpleTimeZone>(offset * 1000, toIcu(QString::fromLatin1(zone.id())));
    }
    return result;
}

} // namespace

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

std::optional<QColor> hexColor(const QString &text)
{
    QStringView digits = QStringView(text).trimmed();
    if (digits.startsWith(u'#'))
        digits = digits.mid(1);
    if (digits.size() != 6)
        return std::nullopt;
    if (!std::all_of(digits.begin(), digits.end(), isHexDigit))
        return std::nullopt;
    const int value = int(digits.toUInt(nullptr, 16)); // six hex digits: at most 0xffffff
    return QColor::fromRgb((value >> 16) & 0xff, (value >> 8) & 0xff, value & 0xff);
}

QColor accentColor()
{
    return *hexColor(accentColorText);
}

QString relativeTime(qint64 createdAtMillis, const QDateTime &now, const QLocale &locale)
{
    const QDateTime created = QDateTime::fromMSecsSinceEpoch(createdAtMillis, now.timeZone());
    const auto [count, unit] = largestUnit(now, created);
    if (auto *formatter = relativeFormatter(locale)) {
        UErrorCode status = U_ZERO_ERROR;
        icu::UnicodeString text;
        formatter->formatNumeric(double(count), unit, text, status);
        if (U_SUCCESS(status))
            return fromIcu(text);
    }
    return locale.toString(created, QLocale::ShortFormat);
}

QString subtitle(const Item &item, const QDateTime &now, const QLocale &locale)
{
    const QString time = relativeTime(item.createdAt, now, locale);
    if (item.sourceDomain && !item.sourceDomain->isEmpty())
        return *item.sourceDomain + QStringLiteral(" \u00b7 ") + time;
    return time;
}

QString notePreview(const Item &note)
{
    if (!note.note || note.note->isEmpty())
        return QString();
    QString text = *note.note;
    if (note.title && !note.title->isEmpty() && text.startsWith(*note.title)) {
        // Only a whole leading title is dropped: a title "e" must not strip the base letter of a decomposed "é"
        // and leave its accent behind.
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
        graphemes.setPosition(note.title->size());
        if (graphemes.isAtBoundary())
            text.remove(0, note.title->size());
    }
    text.replace(u'\n', u' ');
    return trimBlanks(text);
}

QString reminderText(qint64 millis, const QLocale &locale, const QTimeZone &zone)
{
    const QString prefix = QStringLiteral("Reminder: ");
    std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium, icu::DateFormat::kShort, icuLocale(locale)));
    if (!format) {
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(millis, zone);
        return prefix + locale.toString(time, QLocale::ShortFormat);
    }
    format->adoptTimeZone(icuZone(zone, millis).release());
    icu::UnicodeString text;
    format->format(UDate(millis), text);
    return prefix + fromIcu(text);
}

} // namespace oxle::DisplayRules
