#pragma once

// Pure text rules every saved link goes through: link-or-note, the canonical URL used for duplicate detection,
// the source domain shown under an item, and the content type. No state, no network.
//
// URLs are parsed strictly by the RFC 3986 component grammar, working on the original text so that nothing but
// the host changes case and no percent-escape is rewritten. Beyond ASCII, the IRI characters of RFC 3987 are
// accepted (a link copied from an address bar may carry "bücher.de" or "/wiki/Straße"); a Unicode host is
// lowercased with Unicode case rules and kept in Unicode, not converted to its ASCII (punycode) form. Unicode
// white space and bidi formatting characters are rejected like the ASCII space.

#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

namespace oxle::ItemReader {

// True when captured text is to be saved as a link rather than a note: after trimming white space it is not
// empty, holds no space or line feed, and starts with "http://" or "https://" (case-sensitive).
bool looksLikeLink(const QString &text);

// The value compared for duplicates: host lowercased, fragment removed, tracking parameters ("utm_*", "fbclid",
// "gclid", "igshid", "si", "feature", names compared case-insensitively) dropped, one trailing "/" removed.
// Text that does not parse is returned with spaces and tabs trimmed from both ends.
QString canonicalURL(const QString &text);

// The lowercased host without one leading "www."; empty when the text does not parse or has no host.
QString sourceDomain(const QString &text);

// One of "link", "article", "video", "reel", "podcast", "music".
QString contentType(const QString &text);

// True when `host` equals an entry of `list` or is a subdomain of one ("music.youtube.com" matches
// "youtube.com", "notyoutube.com" does not). Both sides are expected in lowercase.
bool hostMatches(const QString &host, const QStringList &list);

// The domain lists contentType() consults, in the order it consults them.
const QStringList &videoOrShortDomains();
const QStringList &instagramDomains();
const QStringList &tiktokDomains();
const QStringList &spotifyDomains();
const QStringList &podcastDomains();
const QStringList &musicDomains();
const QStringList &videoDomains();
const QStringList &articleDomains();

namespace detail {

// The components of a URI reference as views into the parsed text. The flags tell an absent component from a
// present but empty one (the query of "https://a.b/?" is present and empty).
struct UrlReference
{
    QStringView scheme;
    QStringView userInfo;
    QStringView host;
    QStringView port;
    QStringView path;
    QStringView query;
    QStringView fragment;
    bool hasScheme = false;
    bool hasAuthority = false;
    bool hasUserInfo = false;
    bool hasPort = false;
    bool hasQuery = false;
    bool hasFragment = false;
};

// Splits and validates `text`; none when a strict parser would reject it.
std::optional<UrlReference> parseUrlReference(QStringView text);

} // namespace detail

} // namespace oxle::ItemReader
