#include "share-extension/ShareInput.h"

#include "capture/LinkRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QUrl>

#include <cstdio>

namespace oxle::ShareInput {

namespace {

QString withoutBom(QString text)
{
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

// A URL item on the command line or in a uri-list: "scheme://..." or "file:...", with no white space. Opaque
// forms such as "mailto:" or "localhost:8080" are left to be plain text, which is never a usable web link.
bool looksLikeUrlItem(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^(?:[A-Za-z][A-Za-z0-9+.\\-]*://|[Ff][Ii][Ll][Ee]:)\\S*$"));
    return !text.isEmpty() && text.size() <= maxItemBytes && pattern.match(text).hasMatch();
}

// A link read out of a file must be a web link the strict parser accepts.
std::optional<QString> webLink(const QString &candidate)
{
    const QString link = candidate.trimmed();
    if (link.size() > maxItemBytes || !ItemReader::looksLikeLink(link) || !ItemReader::detail::parseUrlReference(link))
        return std::nullopt;
    return link;
}

std::optional<QString> linkFromUrlItem(const QString &value)
{
    if (!looksLikeUrlItem(value))
        return std::nullopt;
    const auto parsed = ItemReader::detail::parseUrlReference(value);
    if (!parsed || !parsed->hasScheme)
        return std::nullopt;
    if (parsed->scheme.compare(QLatin1StringView("file"), Qt::CaseInsensitive) != 0)
        return value;
    const QUrl url(value);
    if (!url.isLocalFile() || (!url.host().isEmpty() && url.host() != QLatin1StringView("localhost")))
        return std::nullopt;
    return linkFromFile(url.toLocalFile());
}

// Desktop entry value escapes: \s \n \t \r \\.
QString unescapeDesktopValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != u'\\' || i + 1 == value.size()) {
            out.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's': out.append(u' '); break;
        case 'n': out.append(u'\n'); break;
        case 't': out.append(u'\t'); break;
        case 'r': out.append(u'\r'); break;
        case '\\': out.append(u'\\'); break;
        default: out.append(c).append(next); break;
        }
    }
    return out;
}

// Key-value lines of one group of an INI-like file; the first occurrence of a key wins.
QList<std::pair<QString, QString>> groupEntries(const QByteArray &data, QStringView group, Qt::CaseSensitivity cs)
{
    QList<std::pair<QString, QString>> entries;
    bool inGroup = false;
    const QString text = withoutBom(QString::fromUtf8(data));
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            inGroup = line.endsWith(u']') && line.sliced(1, line.size() - 2).compare(group, cs) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inGroup || eq <= 0)
            continue;
        entries.append({line.first(eq).trimmed().toString(), line.sliced(eq + 1).trimmed().toString()});
    }
    return entries;
}

std::optional<QString> entryValue(const QList<std::pair<QString, QString>> &entries, const QStringList &keys,
                                  Qt::CaseSensitivity cs)
{
    for (const auto &[key, value] : entries) {
        if (keys.contains(key, cs))
            return value;
    }
    return std::nullopt;
}

QString decodeHtmlEntities(QString text)
{
    static const std::pair<const char *, const char *> entities[] = {
        {"&quot;", "\""}, {"&#34;", "\""}, {"&apos;", "'"}, {"&#39;", "'"}, {"&lt;", "<"},
        {"&gt;", ">"},    {"&#x2F;", "/"}, {"&#47;", "/"},  {"&amp;", "&"}, {"&#38;", "&"}};
    for (const auto &[entity, replacement] : entities)
        text.replace(QLatin1StringView(entity), QLatin1StringView(replacement), Qt::CaseInsensitive);
    return text;
}

QHash<QString, QString> tagAttributes(const QString &attributes)
{
    static const QRegularExpression attribute(
        QStringLiteral("([A-Za-z_:][-A-Za-z0-9_:.]*)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s\"'=<>`]+))"));
    QHash<QString, QString> out;
    auto it = attribute.globalMatch(attributes);
    while (it.hasNext()) {
        const auto match = it.next();
        const QString name = match.captured(1).toLower();
        QString value = match.captured(2);
        if (value.isEmpty())
            value = match.captured(3);
        if (value.isEmpty())
            value = match.captured(4);
        if (!out.contains(name))
            out.insert(name, decodeHtmlEntities(value));
    }
    return out;
}

} // namespace

QList<ShareItem> fromArguments(const QStringList &arguments, const QString &workingDir)
{
    QList<ShareItem> items;
    const QDir base(workingDir);
    for (const QString &argument : arguments) {
        if (items.size() >= maxItems)
            break;
        const QString trimmed = argument.trimmed();
        if (looksLikeUrlItem(trimmed)) {
            items.append(ShareItem::url(trimmed));
            continue;
        }
        const bool pathLike = !argument.isEmpty() && argument.size() <= maxItemBytes && !argument.contains(u'\n')
            && (argument.startsWith(u'/') || QFileInfo::exists(base.filePath(argument)));
        if (pathLike) {
            const QString absolute = QDir::cleanPath(base.absoluteFilePath(argument));
            items.append(ShareItem::url(QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded)));
        } else {
            items.append(ShareItem::text(argument));
        }
    }
    return items;
}

QList<ShareItem> fromStandardInput(const QByteArray &data)
{
    if (data.size() > maxStandardInputBytes)
        return {};
    const QString text = withoutBom(QString::fromUtf8(data));
    QList<ShareItem> uris;
    bool allUris = true;
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QString uri = line.toString();
        if (!looksLikeUrlItem(uri)) {
            allUris = false;
            break;
        }
        if (uris.size() < maxItems)
            uris.append(ShareItem::url(uri));
    }
    if (allUris && !uris.isEmpty())
        return uris;
    if (text.trimmed().isEmpty())
        return {};
    return {ShareItem::text(text)};
}

QByteArray readStandardInput()
{
    QByteArray data;
    char buffer[16 * 1024];
    while (data.size() <= maxStandardInputBytes) {
        const std::size_t wanted = std::min<std::size_t>(sizeof buffer, maxStandardInputBytes + 1 - data.size());
        const std::size_t got = std::fread(buffer, 1, wanted, stdin);
        if (got == 0)
            break;
        data.append(buffer, qsizetype(got));
    }
    return data;
}

std::optional<QString> extractLink(const QList<ShareItem> &items)
{
    const qsizetype count = std::min(items.size(), maxItems);
    for (qsizetype i = 0; i < count; ++i) {
        const ShareItem &item = items.at(i);
        if (item.value.size() > maxItemBytes)
            continue;
        if (item.kind == ShareItem::Kind::Url) {
            if (auto link = linkFromUrlItem(item.value))
                return link;
            continue;
        }
        const QString trimmed = item.value.trimmed();
        if (ItemReader::looksLikeLink(trimmed))
            return trimmed;
    }
    return std::nullopt;
}

std::optional<QString> linkFromFile(const QString &path)
{
    // isFile() is false for directories, FIFOs, sockets and devices, so nothing here can block on a read.
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    const QString suffix = info.suffix().toLower();
    const bool html = suffix == QLatin1StringView("html") || suffix == QLatin1StringView("htm")
        || suffix == QLatin1StringView("xhtml") || suffix == QLatin1StringView("xht");
    const bool desktop = suffix == QLatin1StringView("desktop");
    const bool shortcut = suffix == QLatin1StringView("url");
    if (!html && !desktop && !shortcut)
        return std::nullopt;
    // A link file is tiny; a saved page is only searched in its head.
    if (!html && info.size() > maxItemBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.read(html ? maxItemBytes : maxItemBytes + 1);
    if (!html && data.size() > maxItemBytes)
        return std::nullopt;
    if (desktop)
        return linkFromDesktopEntry(data);
    if (shortcut)
        return linkFromInternetShortcut(data);
    return linkFromHtml(data);
}

std::optional<QString> linkFromDesktopEntry(const QByteArray &data)
{
    const auto entries = groupEntries(data, u"Desktop Entry", Qt::CaseSensitive);
    if (entryValue(entries, {QStringLiteral("Type")}, Qt::CaseSensitive) != QLatin1StringView("Link"))
        return std::nullopt;
    // KDE writes "URL[$e]" (value may use environment variables; a web link has none).
    const auto url = entryValue(entries, {QStringLiteral("URL"), QStringLiteral("URL[$e]")}, Qt::CaseSensitive);
    if (!url)
        return std::nullopt;
    return webLink(unescapeDesktopValue(*url));
}

std::optional<QString> linkFromInternetShortcut(const QByteArray &data)
{
    const auto entries = groupEntries(data, u"InternetShortcut", Qt::CaseInsensitive);
    const auto url = entryValue(entries, {QStringLiteral("URL")}, Qt::CaseInsensitive);
    if (!url)
        return std::nullopt;
    return webLink(*url);
}

std::optional<QString> linkFromHtml(const QByteArray &data)
{
    const QString text = QString::fromUtf8(data.first(std::min(data.size(), maxItemBytes)));
    // Browsers that save a complete page note where it came from in a comment at the top.
    static const QRegularExpression savedFrom(QStringLiteral("<!--\\s*saved from url=\\(\\d{1,5}\\)(\\S+?)\\s*-->"),
                                              QRegularExpression::CaseInsensitiveOption);
    if (const auto match = savedFrom.match(text); match.hasMatch()) {
        if (auto link = webLink(match.captured(1)))
            return link;
    }
    // Otherwise the page's own claim: <link rel="canonical">, then <meta property="og:url">.
    static const QRegularExpression tag(QStringLiteral("<(link|meta)\\b([^>]*)>"),
                                        QRegularExpression::CaseInsensitiveOption);
    std::optional<QString> canonical;
    std::optional<QString> openGraph;
    auto it = tag.globalMatch(text);
    while (it.hasNext() && !canonical) {
        const auto match = it.next();
        const auto attributes = tagAttributes(match.captured(2));
        if (match.captured(1).compare(QLatin1StringView("link"), Qt::CaseInsensitive) == 0) {
            const auto rels = attributes.value(QStringLiteral("rel")).split(QRegularExpression(QStringLiteral("\\s+")));
            if (rels.contains(QStringLiteral("canonical"), Qt::CaseInsensitive))
                canonical = webLink(attributes.value(QStringLiteral("href")));
        } else if (!openGraph) {
            const QString property = attributes.value(QStringLiteral("property"), attributes.value(QStringLiteral("name")));
            if (property.compare(QLatin1StringView("og:url"), Qt::CaseInsensitive) == 0)
                openGraph = webLink(attributes.value(QStringLiteral("content")));
        }
    }
    return canonical ? canonical : openGraph;
}

} // namespace oxle::ShareInput
