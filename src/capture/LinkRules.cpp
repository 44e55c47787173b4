#include "capture/LinkRules.h"

#include <QRegularExpression>

#include <charconv>
#include <optional>

namespace oxle::ItemReader {

const QStringList &videoOrShortDomains()
{
    static const QStringList list { QStringLiteral("youtube.com"), QStringLiteral("youtu.be"),
        QStringLiteral("m.youtube.com") };
    return list;
}

const QStringList &instagramDomains()
{
    static const QStringList list { QStringLiteral("instagram.com"), QStringLiteral("instagr.am") };
    return list;
}

const QStringList &tiktokDomains()
{
    static const QStringList list { QStringLiteral("tiktok.com") };
    return list;
}

const QStringList &spotifyDomains()
{
    static const QStringList list { QStringLiteral("open.spotify.com") };
    return list;
}

const QStringList &podcastDomains()
{
    static const QStringList list { QStringLiteral("podcasts.apple.com"), QStringLiteral("pocketcasts.com"),
        QStringLiteral("overcast.fm") };
    return list;
}

const QStringList &musicDomains()
{
    static const QStringList list { QStringLiteral("soundcloud.com"), QStringLiteral("music.apple.com") };
    return list;
}

const QStringList &videoDomains()
{
    static const QStringList list { QStringLiteral("vimeo.com"), QStringLiteral("twitch.tv") };
    return list;
}

const QStringList &articleDomains()
{
    static const QStringList list { QStringLiteral("medium.com"), QStringLiteral("substack.com") };
    return list;
}

namespace detail {

namespace {

bool isAlpha(char32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char32_t c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char32_t c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isUnreserved(char32_t c)
{
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool isSubDelim(char32_t c)
{
    switch (c) {
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
        return true;
    default:
        return false;
    }
}

bool isPchar(char32_t c)
{
    return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@';
}

// RFC 3987 ucschar, without the white space and bidi formatting characters a link must not carry invisibly.
bool isUcsChar(char32_t c)
{
    const bool inRange = (c >= 0xA0 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFEF)
        || (c >= 0x10000 && c <= 0xEFFFD && (c & 0xFFFF) <= 0xFFFD && !(c >= 0xE0000 && c <= 0xE0FFF));
    if (!inRange)
        return false;
    if (QChar::isSpace(c))
        return false;
    return !(c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069));
}

// RFC 3987 iprivate, allowed in the query only.
bool isPrivateUse(char32_t c)
{
    return (c >= 0xE000 && c <= 0xF8FF) || (c >= 0xF0000 && c <= 0xFFFFD) || (c >= 0x100000 && c <= 0x10FFFD);
}

enum class Unicode { None, Ucs, UcsAndPrivate };

// Checks every character of `text`: ASCII ones with `asciiAllowed`, "%" only as the start of a two-digit hex
// escape, non-ASCII ones by `unicode`, and lone surrogates never.
template <typename AsciiPredicate> bool allValid(QStringView text, AsciiPredicate asciiAllowed, Unicode unicode)
{
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            if (c == '%') {
                if (i + 2 >= size || !isHexDigit(text[i + 1].unicode()) || !isHexDigit(text[i + 2].unicode()))
                    return false;
                i += 2;
            } else if (!asciiAllowed(c)) {
                return false;
            }
            continue;
        }
        char32_t codePoint = c;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= size || !QChar::isLowSurrogate(text[i + 1].unicode()))
                return false;
            codePoint = QChar::surrogateToUcs4(c, text[i + 1].unicode());
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
        const bool ok = unicode == Unicode::None
            ? false
            : isUcsChar(codePoint) || (unicode == Unicode::UcsAndPrivate && isPrivateUse(codePoint));
        if (!ok)
            return false;
    }
    return true;
}

bool isValidScheme(QStringView scheme)
{
    if (scheme.isEmpty() || !isAlpha(scheme.front().unicode()))
        return false;
    for (const QChar ch : scheme) {
        const char16_t c = ch.unicode();
        if (!(isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.'))
            return false;
    }
    return true;
}

// The value of `text` when it is nothing but ASCII digits (at least one) and fits an unsigned int.
std::optional<unsigned> decimalValue(QStringView text)
{
    const QByteArray digits = text.toLatin1();
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(digits.cbegin(), digits.cend(), value);
    if (ec != std::errc() || end != digits.cend())
        return std::nullopt;
    return value;
}

bool isDecOctet(QStringView text)
{
    // No leading zeros: "01" is not a dec-octet.
    if (text.size() > 3 || (text.size() > 1 && text.front() == u'0'))
        return false;
    const std::optional<unsigned> value = decimalValue(text);
    return value && *value <= 255;
}

bool isIPv4Address(QStringView text)
{
    const auto parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QStringView part : parts)
        if (!isDecOctet(part))
            return false;
    return true;
}

bool isH16(QStringView text)
{
    if (text.isEmpty() || text.size() > 4)
        return false;
    for (const QChar ch : text)
        if (!isHexDigit(ch.unicode()))
            return false;
    return true;
}

// Counts the 16-bit groups of a ":"-separated run; an IPv4 address is allowed as the final piece when
// `ipv4Last` and counts as two. Answers -1 when a piece is invalid.
int countGroups(QStringView run, bool ipv4Last)
{
    if (run.isEmpty())
        return 0;
    const auto pieces = run.split(u':');
    int groups = 0;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (isH16(pieces[i]))
            groups += 1;
        else if (ipv4Last && i == pieces.size() - 1 && isIPv4Address(pieces[i]))
            groups += 2;
        else
            return -1;
    }
    return groups;
}

bool isIPv6Address(QStringView text)
{
    const qsizetype gap = text.indexOf(u"::");
    if (gap < 0)
        return countGroups(text, true) == 8;
    const QStringView left = text.left(gap);
    const QStringView right = text.mid(gap + 2);
    if (right.contains(u"::"))
        return false;
    const int leftGroups = countGroups(left, false);
    const int rightGroups = countGroups(right, true);
    return leftGroups >= 0 && rightGroups >= 0 && leftGroups + rightGroups <= 7;
}

bool isIPvFuture(QStringView text)
{
    // "v" 1*HEXDIG "." 1*( unreserved / sub-delims / ":" )
    if (text.size() < 4 || (text[0] != u'v' && text[0] != u'V'))
        return false;
    const qsizetype dot = text.indexOf(u'.');
    if (dot < 2 || dot == text.size() - 1)
        return false;
    for (const QChar ch : text.mid(1, dot - 1))
        if (!isHexDigit(ch.unicode()))
            return false;
    for (const QChar ch : text.mid(dot + 1)) {
        const char16_t c = ch.unicode();
        if (!(isUnreserved(c) || isSubDelim(c) || c == ':'))
            return false;
    }
    return true;
}

bool isValidPort(QStringView port)
{
    // The grammar allows any digits, none included; a value beyond 65535 can never name a port, so it is
    // rejected too.
    if (port.isEmpty())
        return true;
    const std::optional<unsigned> value = decimalValue(port);
    return value && *value <= 65535;
}

bool parseAuthority(QStringView authority, UrlReference &url)
{
    QStringView hostAndPort = authority;
    const qsizetype at = authority.indexOf(u'@');
    if (at >= 0) {
        url.hasUserInfo = true;
        url.userInfo = authority.left(at);
        hostAndPort = authority.mid(at + 1);
        const auto userInfoChar = [](char16_t c) { return isUnreserved(c) || isSubDelim(c) || c == ':'; };
        if (!allValid(url.userInfo, userInfoChar, Unicode::Ucs))
            return false;
    }

    QStringView rest;
    if (hostAndPort.startsWith(u'[')) {
        const qsizetype close = hostAndPort.indexOf(u']');
        if (close < 0)
            return false;
        url.host = hostAndPort.left(close + 1);
        const QStringView literal = hostAndPort.mid(1, close - 1);
        if (!isIPv6Address(literal) && !isIPvFuture(literal))
            return false;
        rest = hostAndPort.mid(close + 1);
        if (!rest.isEmpty() && rest.front() != u':')
            return false;
    } else {
        const qsizetype colon = hostAndPort.indexOf(u':');
        url.host = colon < 0 ? hostAndPort : hostAndPort.left(colon);
        rest = colon < 0 ? QStringView() : hostAndPort.mid(colon);
        const auto regNameChar = [](char16_t c) { return isUnreserved(c) || isSubDelim(c); };
        if (!allValid(url.host, regNameChar, Unicode::Ucs))
            return false;
    }
    if (!rest.isEmpty()) {
        url.hasPort = true;
        url.port = rest.mid(1);
        if (!isValidPort(url.port))
            return false;
    }
    return true;
}

} // namespace

std::optional<UrlReference> parseUrlReference(QStringView text)
{
    // The splitting expression of RFC 3986, appendix B. It accepts any text; the checks below make it strict.
    static const QRegularExpression splitter(
        QStringLiteral(R"(^(([^:/?#]+):)?(//([^/?#]*))?([^?#]*)(\?([^#]*))?(#(.*))?\z)"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = splitter.match(text);
    if (!match.hasMatch())
        return std::nullopt;

    UrlReference url;
    const auto component = [&](int group, bool &present) {
        present = match.capturedStart(group) >= 0;
        return present ? match.capturedView(group) : QStringView();
    };
    url.scheme = component(2, url.hasScheme);
    const QStringView authority = component(4, url.hasAuthority);
    bool pathPresent = false;
    url.path = component(5, pathPresent);
    url.query = component(7, url.hasQuery);
    url.fragment = component(9, url.hasFragment);

    if (url.hasScheme && !isValidScheme(url.scheme))
        return std::nullopt;
    if (url.hasAuthority && !parseAuthority(authority, url))
        return std::nullopt;

    const auto pathChar = [](char16_t c) { return isPchar(c) || c == '/'; };
    if (!allValid(url.path, pathChar, Unicode::Ucs))
        return std::nullopt;
    // A relative reference without authority must not look like a scheme in its first segment ("a:b" would).
    if (!url.hasScheme && !url.hasAuthority && url.path.left(url.path.indexOf(u'/')).contains(u':'))
        return std::nullopt;

    const auto queryChar = [](char16_t c) { return isPchar(c) || c == '/' || c == '?'; };
    if (url.hasQuery && !allValid(url.query, queryChar, Unicode::UcsAndPrivate))
        return std::nullopt;
    if (url.hasFragment && !allValid(url.fragment, queryChar, Unicode::Ucs))
        return std::nullopt;
    return url;
}

} // namespace detail

namespace {

using detail::UrlReference;

// Lowercases a host's characters but copies its percent-escapes as written.
QString lowercaseHost(QStringView host)
{
    QString result;
    result.reserve(host.size());
    qsizetype i = 0;
    while (i < host.size()) {
        if (host[i] == u'%') {
            result.append(host.mid(i, 3));
            i += 3;
            continue;
        }
        qsizetype end = host.indexOf(u'%', i);
        if (end < 0)
            end = host.size();
        result.append(host.mid(i, end - i).toString().toLower());
        i = end;
    }
    return result;
}

bool isTrackingParameter(QStringView item)
{
    const qsizetype equals = item.indexOf(u'=');
    const QStringView rawName = equals < 0 ? item : item.left(equals);
    // Escapes are decoded only for the comparison ("%75tm_source" is "utm_source"); the item stays as written.
    QString name;
    if (rawName.contains(u'%'))
        name = QString::fromUtf8(QByteArray::fromPercentEncoding(rawName.toUtf8())).toLower();
    else
        name = rawName.toString().toLower();
    static const QStringList exact { QStringLiteral("fbclid"), QStringLiteral("gclid"), QStringLiteral("igshid"),
        QStringLiteral("si"), QStringLiteral("feature") };
    return name.startsWith(QLatin1StringView("utm_")) || exact.contains(name);
}

QString trimSpacesAndTabs(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

bool looksLikeLink(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.contains(u' ') || trimmed.contains(u'\n'))
        return false;
    return trimmed.startsWith(QLatin1StringView("http://")) || trimmed.startsWith(QLatin1StringView("https://"));
}

QString canonicalURL(const QString &text)
{
    const std::optional<UrlReference> parsed = detail::parseUrlReference(text);
    if (!parsed)
        return trimSpacesAndTabs(text);
    const UrlReference &url = *parsed;

    QString result;
    result.reserve(text.size());
    if (url.hasScheme) {
        result.append(url.scheme);
        result.append(u':');
    }
    if (url.hasAuthority) {
        result.append(u"//");
        if (url.hasUserInfo) {
            result.append(url.userInfo);
            result.append(u'@');
        }
        result.append(lowercaseHost(url.host));
        if (url.hasPort) {
            result.append(u':');
            result.append(url.port);
        }
    }
    result.append(url.path);

    // Kept items stay in order and as written. Empty items (from "&&" or a trailing "&") carry nothing and are
    // dropped with the tracking ones, so a query that is left with nothing loses its "?".
    QList<QStringView> kept;
    if (url.hasQuery) {
        for (const QStringView item : url.query.split(u'&')) {
            if (!item.isEmpty() && !isTrackingParameter(item))
                kept.append(item);
        }
    }
    if (kept.isEmpty()) {
        // One trailing "/" goes from the whole string.
        if (result.endsWith(u'/'))
            result.chop(1);
        return result;
    }
    // The string ends with the last kept item, so that is where the one trailing "/" goes; an item left empty
    // by it is dropped like any other empty item, so the result holds no dangling "&" or "?".
    if (kept.last().endsWith(u'/')) {
        kept.last().chop(1);
        if (kept.last().isEmpty())
            kept.removeLast();
    }
    if (!kept.isEmpty()) {
        result.append(u'?');
        for (qsizetype i = 0; i < kept.size(); ++i) {
            if (i > 0)
                result.append(u'&');
            result.append(kept[i]);
        }
    }
    return result;
}

QString sourceDomain(const QString &text)
{
    const std::optional<UrlReference> url = detail::parseUrlReference(text);
    // An empty, not a null, string: the value is stored as "" when there is no host.
    if (!url || !url->hasAuthority)
        return QStringLiteral("");
    QString host = lowercaseHost(url->host);
    if (host.startsWith(QLatin1StringView("www.")))
        host.remove(0, 4);
    return host;
}

bool hostMatches(const QString &host, const QStringList &list)
{
    for (const QString &domain : list) {
        if (host == domain)
            return true;
        if (host.size() > domain.size() && host.endsWith(domain) && host[host.size() - domain.size() - 1] == u'.')
            return true;
    }
    return false;
}

QString contentType(const QString &text)
{
    static const QRegularExpression reels(QStringLiteral("/reels?/"));
    static const QRegularExpression showOrEpisode(QStringLiteral("/(show|episode)/"));
    static const QRegularExpression trackAlbumPlaylistArtist(QStringLiteral("/(track|album|playlist|artist)/"));

    const QString host = sourceDomain(text);
    if (host.isEmpty())
        return QStringLiteral("link");
    if (hostMatches(host, videoOrShortDomains()))
        return text.contains(QLatin1StringView("/shorts/")) ? QStringLiteral("reel") : QStringLiteral("video");
    if (hostMatches(host, instagramDomains()))
        return text.contains(reels) ? QStringLiteral("reel") : QStringLiteral("link");
    if (hostMatches(host, tiktokDomains()))
        return QStringLiteral("reel");
    if (hostMatches(host, spotifyDomains())) {
        if (text.contains(showOrEpisode))
            return QStringLiteral("podcast");
        if (text.contains(trackAlbumPlaylistArtist))
            return QStringLiteral("music");
        return QStringLiteral("link");
    }
    if (hostMatches(host, podcastDomains()))
        return QStringLiteral("podcast");
    if (hostMatches(host, musicDomains()))
        return QStringLiteral("music");
    if (hostMatches(host, videoDomains()))
        return QStringLiteral("video");
    if (hostMatches(host, articleDomains()))
        return QStringLiteral("article");
    return QStringLiteral("link");
}

} // namespace oxle::ItemReader
