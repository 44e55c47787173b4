// The main window's rules that need no display: which screen and menu entries appear, reminder presets across
// daylight-saving changes, display texts, the form rules and the open-window count.

#include "ui/DisplayRules.h"
#include "ui/FormRules.h"
#include "ui/OpenWindowCount.h"
#include "ui/ReminderPresets.h"
#include "ui/ScreenRules.h"

#include <QSignalSpy>
#include <QTest>
#include <map>
#include <memory>

using namespace oxle;
using namespace oxle::ScreenRules;

namespace {

Category list(const QString &id, bool isSystem = false)
{
    Category category;
    category.id = id;
    category.name = id.toUpper();
    category.isSystem = isSystem;
    return category;
}

Item item(const QString &url, std::optional<QString> categoryId = std::nullopt)
{
    Item result;
    result.id = QStringLiteral("i1");
    result.url = url;
    result.categoryId = std::move(categoryId);
    result.contentType = QStringLiteral("link");
    result.status = QStringLiteral("queued");
    return result;
}

Item note(std::optional<QString> title, std::optional<QString> body)
{
    Item result = item(QString());
    result.contentType = QStringLiteral("note");
    result.title = std::move(title);
    result.note = std::move(body);
    return result;
}

// A wall-clock time in a zone, written as "yyyy-MM-ddTHH:mm".
QDateTime at(const char *zone, const char *local)
{
    const QDateTime parsed = QDateTime::fromString(QString::fromLatin1(local), Qt::ISODate);
    return QDateTime(parsed.date(), parsed.time(), QTimeZone(zone));
}

qint64 utcMillis(const char *utc)
{
    return QDateTime::fromString(QString::fromLatin1(utc), Qt::ISODate).toMSecsSinceEpoch();
}

} // namespace

class UiRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void detailScreen_data();
    void detailScreen();
    void shortcutListIDs_data();
    void shortcutListIDs();
    void selectionAfterRemoving_data();
    void selectionAfterRemoving();
    void listMenu_data();
    void listMenu();
    void itemMenu_data();
    void itemMenu();
    void linkToOpen_data();
    void linkToOpen();

    void thisEvening_data();
    void thisEvening();
    void tomorrowMorning_data();
    void tomorrowMorning();

    void hexColor_data();
    void hexColor();
    void relativeTime_data();
    void relativeTime();
    void subtitle_data();
    void subtitle();
    void notePreview_data();
    void notePreview();
    void reminderText_data();
    void reminderText();

    void listForm_data();
    void listForm();
    void listFormKeepsColourAndIcon();
    void addSheet_data();
    void addSheet();
    void addSheetInitialList();

    void openWindowCount_data();
    void openWindowCount();
    void destroyedRegistrationLeaves();
};

void UiRulesTest::initTestCase()
{
    for (const char *zone : { "Europe/Berlin", "America/New_York" })
        QVERIFY2(QTimeZone(zone).isValid(), zone);
}

// --- Screens and menus

void UiRulesTest::detailScreen_data()
{
    QTest::addColumn<QString>("searchBefore");
    QTest::addColumn<SidebarItem>("selectionBefore");
    QTest::addColumn<QString>("search");
    QTest::addColumn<SidebarItem>("selection");
    QTest::addColumn<DetailScreen>("screen");
    QTest::addColumn<bool>("keeps");

    const auto a = SidebarItem::category(u"a"_qs);
    const auto b = SidebarItem::category(u"b"_qs);
    const auto inbox = SidebarItem::inbox();
    const auto notes = SidebarItem::notes();
    QTest::newRow("list to list") << u""_qs << a << u""_qs << b << DetailScreen::ListItems << true;
    QTest::newRow("spaces only show the list") << u""_qs << a << u"  \t "_qs << b << DetailScreen::ListItems << true;
    QTest::newRow("inbox to list") << u""_qs << inbox << u""_qs << a << DetailScreen::ListItems << false;
    QTest::newRow("list to notes") << u""_qs << a << u""_qs << notes << DetailScreen::Notes << false;
    QTest::newRow("typing over a list") << u""_qs << a << u" rust"_qs << a << DetailScreen::SearchResults << false;
    QTest::newRow("typing on") << u"r"_qs << a << u"ru"_qs << notes << DetailScreen::SearchResults << true;
    QTest::newRow("clearing the search") << u"r"_qs << a << u""_qs << a << DetailScreen::ListItems << false;
}

void UiRulesTest::detailScreen()
{
    QFETCH(QString, searchBefore);
    QFETCH(SidebarItem, selectionBefore);
    QFETCH(QString, search);
    QFETCH(SidebarItem, selection);
    QFETCH(DetailScreen, screen);
    QFETCH(bool, keeps);

    QCOMPARE(ScreenRules::detailScreen(search, selection), screen);
    QCOMPARE(keepsScreen(ScreenRules::detailScreen(searchBefore, selectionBefore), screen), keeps);
}

void UiRulesTest::shortcutListIDs_data()
{
    QTest::addColumn<int>("lists");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("none") << 0 << QStringList();
    QTest::newRow("three") << 3 << QStringList { u"l1"_qs, u"l2"_qs, u"l3"_qs };
    QStringList nine;
    for (int i = 1; i <= 9; ++i)
        nine << u"l%1"_qs.arg(i);
    QTest::newRow("nine") << 9 << nine;
    QTest::newRow("twelve: the first nine in store order") << 12 << nine;
}

void UiRulesTest::shortcutListIDs()
{
    QFETCH(int, lists);
    QFETCH(QStringList, expected);
    QList<Category> categories;
    for (int i = 1; i <= lists; ++i)
        categories << list(u"l%1"_qs.arg(i));
    QCOMPARE(ScreenRules::shortcutListIDs(categories), expected);
}

void UiRulesTest::selectionAfterRemoving_data()
{
    QTest::addColumn<SidebarItem>("selection");
    QTest::addColumn<SidebarItem>("expected");
    QTest::newRow("the selected list") << SidebarItem::category(u"a"_qs) << SidebarItem::inbox();
    QTest::newRow("another list") << SidebarItem::category(u"b"_qs) << SidebarItem::category(u"b"_qs);
    QTest::newRow("notes") << SidebarItem::notes() << SidebarItem::notes();
}

void UiRulesTest::selectionAfterRemoving()
{
    QFETCH(SidebarItem, selection);
    QFETCH(SidebarItem, expected);
    QCOMPARE(ScreenRules::selectionAfterRemoving(selection, u"a"_qs), expected);
}

void UiRulesTest::listMenu_data()
{
    QTest::addColumn<Category>("category");
    QTest::addColumn<bool>("shared");
    QTest::addColumn<QList<ListAction>>("expected");
    QTest::newRow("own") << list(u"a"_qs) << false << QList { ListAction::Rename, ListAction::Delete };
    QTest::newRow("shared") << list(u"a"_qs) << true << QList { ListAction::Leave };
    QTest::newRow("system") << list(u"a"_qs, true) << false << QList<ListAction>();
    QTest::newRow("shared system") << list(u"a"_qs, true) << true << QList { ListAction::Leave };
}

void UiRulesTest::listMenu()
{
    QFETCH(Category, category);
    QFETCH(bool, shared);
    QFETCH(QList<ListAction>, expected);
    QVERIFY(ScreenRules::listMenu(category, shared) == expected);
}

void UiRulesTest::itemMenu_data()
{
    QTest::addColumn<Item>("item");
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("moveTo");
    QTest::addColumn<QString>("removeLabel");
    QTest::addColumn<QString>("detailRemoveLabel");
    const QString url = u"https://example.com/a"_qs;
    QTest::newRow("own list") << item(url, u"own"_qs) << true << true << u"Delete"_qs << u"Delete"_qs;
    QTest::newRow("inbox") << item(url) << true << true << u"Delete"_qs << u"Delete"_qs;
    QTest::newRow("shared list") << item(url, u"shared"_qs) << true << false << u"Remove from my list"_qs
                                 << u"Remove"_qs;
    QTest::newRow("empty url") << item(QString(), u"own"_qs) << false << true << u"Delete"_qs << u"Delete"_qs;
}

void UiRulesTest::itemMenu()
{
    QFETCH(Item, item);
    QFETCH(bool, open);
    QFETCH(bool, moveTo);
    QFETCH(QString, removeLabel);
    QFETCH(QString, detailRemoveLabel);
    // An empty id in the set must not make inbox items (no list) count as shared.
    const QSet<QString> sharedIDs { u"shared"_qs, QString() };
    const ItemMenu menu = ScreenRules::itemMenu(item, isInSharedList(item, sharedIDs));
    QCOMPARE(menu.open, open);
    QCOMPARE(menu.moveTo, moveTo);
    QCOMPARE(menu.removeLabel, removeLabel);
    QCOMPARE(menu.detailRemoveLabel, detailRemoveLabel);
}

void UiRulesTest::linkToOpen_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected"); // empty: nothing opens
    QTest::newRow("web link") << u"https://example.com/a?b=1"_qs << u"https://example.com/a?b=1"_qs;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("no scheme") << u"example.com/a"_qs << QString();
    QTest::newRow("broken host") << u"https://exa mple.com"_qs << QString();
    // A shared list's link comes from someone else: it must not open a local file or start another program.
    QTest::newRow("local file") << u"file:///etc/passwd"_qs << QString();
    QTest::newRow("other scheme") << u"ssh://host/x"_qs << QString();
    QTest::newRow("upper-case scheme") << u"HTTPS://example.com/"_qs << u"https://example.com/"_qs;
}

void UiRulesTest::linkToOpen()
{
    QFETCH(QString, url);
    QFETCH(QString, expected);
    const std::optional<QUrl> link = ScreenRules::linkToOpen(item(url));
    QCOMPARE(link.has_value(), !expected.isEmpty());
    if (link)
        QCOMPARE(link->toString(), expected);
}

// --- Reminder presets

void UiRulesTest::thisEvening_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("zone");
    QTest::addColumn<qint64>("expected");
    const char *berlin = "Europe/Berlin";
    QTest::newRow("19:59") << at(berlin, "2026-06-10T19:59") << berlin << utcMillis("2026-06-10T18:00:00Z");
    QTest::newRow("20:00") << at(berlin, "2026-06-10T20:00") << berlin << utcMillis("2026-06-11T18:00:00Z");
    QTest::newRow("on the spring change")
        << at(berlin, "2026-03-29T10:00") << berlin << utcMillis("2026-03-29T18:00:00Z");
    QTest::newRow("into the spring change")
        << at(berlin, "2026-03-28T21:00") << berlin << utcMillis("2026-03-29T18:00:00Z");
    QTest::newRow("into the autumn change")
        << at(berlin, "2026-10-24T20:30") << berlin << utcMillis("2026-10-25T19:00:00Z");
    QTest::newRow("New York, spring") << at("America/New_York", "2026-03-07T20:15") << "America/New_York"
                                      << utcMillis("2026-03-09T00:00:00Z");
    // now given in UTC: "today" and 20:00 are those of the zone, where it is already 20:30.
    QTest::newRow("now in another zone") << QDateTime::fromString(u"2026-06-10T18:30:00Z"_qs, Qt::ISODate) << berlin
                                         << utcMillis("2026-06-11T18:00:00Z");
}

void UiRulesTest::thisEvening()
{
    QFETCH(QDateTime, now);
    QFETCH(QString, zone);
    QFETCH(qint64, expected);
    QCOMPARE(ReminderPresets::thisEvening(now, QTimeZone(zone.toLatin1())), expected);
}

void UiRulesTest::tomorrowMorning_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("zone");
    QTest::addColumn<qint64>("expected");
    const char *berlin = "Europe/Berlin";
    const char *newYork = "America/New_York";
    QTest::newRow("00:30 is the next day")
        << at(berlin, "2026-06-10T00:30") << berlin << utcMillis("2026-06-11T07:00:00Z");
    QTest::newRow("into the spring change")
        << at(berlin, "2026-03-28T23:30") << berlin << utcMillis("2026-03-29T07:00:00Z");
    QTest::newRow("a day later is in the gap")
        << at(berlin, "2026-03-28T02:30") << berlin << utcMillis("2026-03-29T07:00:00Z");
    QTest::newRow("into the autumn change")
        << at(berlin, "2026-10-24T09:00") << berlin << utcMillis("2026-10-25T08:00:00Z");
    QTest::newRow("New York, autumn") << at(newYork, "2026-10-31T22:00") << newYork
                                      << utcMillis("2026-11-01T14:00:00Z");
    QTest::newRow("New York, 00:30 on the change")
        << at(newYork, "2026-11-01T00:30") << newYork << utcMillis("2026-11-02T14:00:00Z");
    QTest::newRow("now in another zone") << QDateTime::fromString(u"2026-06-10T23:30:00Z"_qs, Qt::ISODate) << berlin
                                         << utcMillis("2026-06-12T07:00:00Z");
}

void UiRulesTest::tomorrowMorning()
{
    QFETCH(QDateTime, now);
    QFETCH(QString, zone);
    QFETCH(qint64, expected);
    QCOMPARE(ReminderPresets::tomorrowMorning(now, QTimeZone(zone.toLatin1())), expected);
}

// --- Display rules

void UiRulesTest::hexColor_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("expected"); // invalid: no colour
    QTest::newRow("accent") << DisplayRules::accentColorText << QColor(0x53, 0x68, 0x78);
    QTest::newRow("without # and with spaces") << u"  536878 "_qs << QColor(0x53, 0x68, 0x78);
    QTest::newRow("five digits") << u"#53687"_qs << QColor();
    QTest::newRow("non-hex character") << u"#53687G"_qs << QColor();
    QTest::newRow("two #") << u"##536878"_qs << QColor();
    QTest::newRow("full-width digits") << u"#\uff15\uff13\uff16\uff18\uff17\uff18"_qs << QColor();
}

void UiRulesTest::hexColor()
{
    QFETCH(QString, text);
    QFETCH(QColor, expected);
    const std::optional<QColor> color = DisplayRules::hexColor(text);
    QCOMPARE(color.has_value(), expected.isValid());
    if (color) {
        QCOMPARE(color->rgba(), expected.rgba());
        QCOMPARE(color->alpha(), 255);
    }
}

void UiRulesTest::relativeTime_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<qint64>("createdAt");
    QTest::addColumn<QString>("expected");
    const QDateTime now = QDateTime::fromString(u"2026-03-15T12:00:00Z"_qs, Qt::ISODate);
    const qint64 ms = now.toMSecsSinceEpoch();
    const qint64 hour = qint64(3600) * 1000;
    QTest::newRow("seconds") << now << ms - 30'999 << u"30 sec. ago"_qs;
    QTest::newRow("hours") << now << ms - 2 * hour - 59 * qint64(60'000) << u"2 hr. ago"_qs;
    QTest::newRow("36 hours is one day") << now << ms - 36 * hour << u"1 day ago"_qs;
    QTest::newRow("days") << now << ms - hour * 3 * 24 << u"3 days ago"_qs;
    QTest::newRow("weeks") << now << ms - hour * 13 * 24 << u"1 wk. ago"_qs;
    QTest::newRow("a calendar month") << now << utcMillis("2026-02-15T12:00:00Z") << u"1 mo. ago"_qs;
    QTest::newRow("just short of a month") << now << utcMillis("2026-02-15T12:00:01Z") << u"3 wk. ago"_qs;
    QTest::newRow("years") << now << utcMillis("2023-12-01T00:00:00Z") << u"2 yr. ago"_qs;
    QTest::newRow("future") << now << ms + 2 * hour << u"in 2 hr."_qs;
    // 23 hours of real time across the spring change, but a whole calendar day on the clock.
    const QDateTime berlin = at("Europe/Berlin", "2026-03-30T12:00");
    QTest::newRow("a day across the change")
        << berlin << at("Europe/Berlin", "2026-03-29T12:00").toMSecsSinceEpoch() << u"1 day ago"_qs;
}

void UiRulesTest::relativeTime()
{
    QFETCH(QDateTime, now);
    QFETCH(qint64, createdAt);
    QFETCH(QString, expected);
    QCOMPARE(DisplayRules::relativeTime(createdAt, now, QLocale(u"en_US"_qs)), expected);
}

void UiRulesTest::subtitle_data()
{
    QTest::addColumn<std::optional<QString>>("domain");
    QTest::addColumn<QString>("expected");
    QTest::newRow("domain") << std::optional(u"example.com"_qs) << u"example.com \u00b7 2 hr. ago"_qs;
    QTest::newRow("empty domain") << std::optional(QString()) << u"2 hr. ago"_qs;
    QTest::newRow("no domain") << std::optional<QString>() << u"2 hr. ago"_qs;
}

void UiRulesTest::subtitle()
{
    QFETCH(std::optional<QString>, domain);
    QFETCH(QString, expected);
    const QDateTime now = QDateTime::fromString(u"2026-03-15T12:00:00Z"_qs, Qt::ISODate);
    Item saved = item(u"https://example.com/a"_qs);
    saved.sourceDomain = domain;
    saved.createdAt = now.toMSecsSinceEpoch() - qint64(2) * 3600 * 1000;
    QCOMPARE(DisplayRules::subtitle(saved, now, QLocale(u"en_US"_qs)), expected);
}

void UiRulesTest::notePreview_data()
{
    using Text = std::optional<QString>;
    QTest::addColumn<Item>("note");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no body") << note(u"Title"_qs, Text()) << QString();
    QTest::newRow("body starts with the title")
        << note(u"Groceries"_qs, u"Groceries\nmilk\neggs\n"_qs) << u"milk eggs"_qs;
    QTest::newRow("different case is kept") << note(u"groceries"_qs, u"Groceries list"_qs) << u"Groceries list"_qs;
    QTest::newRow("body is the title") << note(u"Idea"_qs, u"Idea"_qs) << QString();
    QTest::newRow("no title") << note(Text(), u"\n\t first\nsecond \u00a0"_qs) << u"first second"_qs;
    QTest::newRow("carriage return is not trimmed") << note(Text(), u"a\r"_qs) << u"a\r"_qs;
    // "e" and a combining accent are one character: the title "e" is not at the start of "éclair".
    QTest::newRow("decomposed accent") << note(u"e"_qs, u"e\u0301clair"_qs) << u"e\u0301clair"_qs;
}

void UiRulesTest::notePreview()
{
    QFETCH(Item, note);
    QFETCH(QString, expected);
    QCOMPARE(DisplayRules::notePreview(note), expected);
}

void UiRulesTest::reminderText_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::newRow("Berlin") << u"Europe/Berlin"_qs << u"Mar 29, 2026"_qs << u"9:00"_qs;
    QTest::newRow("New York") << u"America/New_York"_qs << u"Mar 29, 2026"_qs << u"3:00"_qs;
    QTest::newRow("UTC") << u"UTC"_qs << u"Mar 29, 2026"_qs << u"7:00"_qs;
}

void UiRulesTest::reminderText()
{
    QFETCH(QString, zone);
    QFETCH(QString, date);
    QFETCH(QString, time);
    const QString text = DisplayRules::reminderText(
        utcMillis("2026-03-29T07:00:00Z"), QLocale(u"en_US"_qs), QTimeZone(zone.toLatin1()));
    // The separators (and the space before "AM") vary with the ICU version.
    QVERIFY2(text.startsWith(u"Reminder: "_qs + date), qPrintable(text));
    QVERIFY2(text.contains(u' ' + time) && text.endsWith(u"AM"_qs), qPrintable(text));
}

// --- Forms

void UiRulesTest::listForm_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("trimmed");
    QTest::addColumn<bool>("canSave");
    QTest::newRow("spaces only") << u"   "_qs << QString() << false;
    QTest::newRow("surrounding spaces") << u"  Books to read \t"_qs << u"Books to read"_qs << true;
    QTest::newRow("line breaks are kept") << u" Books\n"_qs << u"Books\n"_qs << true;
}

void UiRulesTest::listForm()
{
    QFETCH(QString, name);
    QFETCH(QString, trimmed);
    QFETCH(bool, canSave);
    QCOMPARE(ListFormRules::trimmedName(name), trimmed);
    QCOMPARE(ListFormRules::canSave(name), canSave);
}

void UiRulesTest::listFormKeepsColourAndIcon()
{
    using namespace ListFormRules;
    QCOMPARE(palette().size(), 8);
    QCOMPARE(palette().first(), DisplayRules::accentColorText);
    for (const QString &swatch : palette())
        QVERIFY2(DisplayRules::hexColor(swatch), qPrintable(swatch));

    // A colour outside the palette stays as it is, so saving without picking a swatch keeps it.
    QVERIFY(!palette().contains(u"#123456"_qs));
    QCOMPARE(initialColor(u"#123456"_qs), u"#123456"_qs);
    QCOMPARE(initialColor(std::nullopt), u"#536878"_qs);
    QCOMPARE(initialIcon(u"book"_qs), u"book"_qs);
    QCOMPARE(initialIcon(std::nullopt), u"sparkles"_qs);
}

void UiRulesTest::addSheet_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("categoryID");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<std::optional<QString>>("toAdd");
    const QString id = u"c1"_qs;
    QTest::newRow("link with spaces") << u"  https://example.com/a \n"_qs << id << true
                                      << std::optional(u"https://example.com/a"_qs);
    QTest::newRow("line breaks only") << u"\n\n"_qs << id << true << std::optional<QString>();
    QTest::newRow("spaces and tabs only") << u" \t "_qs << id << false << std::optional<QString>();
    QTest::newRow("no list") << u"text"_qs << QString() << false << std::optional<QString>();
}

void UiRulesTest::addSheet()
{
    QFETCH(QString, text);
    QFETCH(QString, categoryID);
    QFETCH(bool, enabled);
    QFETCH(std::optional<QString>, toAdd);
    QCOMPARE(AddSheetRules::addEnabled(text, categoryID), enabled);
    QCOMPARE(AddSheetRules::textToAdd(text, categoryID), toAdd);
}

void UiRulesTest::addSheetInitialList()
{
    using namespace AddSheetRules;
    const QList<Category> lists { list(u"a"_qs), list(u"b"_qs) };
    QCOMPARE(initialCategoryID(lists, u"b"_qs), u"b"_qs);
    QCOMPARE(initialCategoryID(lists, std::nullopt), u"a"_qs);
    // No lists at all: nothing is chosen and "Add" stays disabled.
    QCOMPARE(initialCategoryID({}, std::nullopt), QString());
    QVERIFY(!addEnabled(u"text"_qs, initialCategoryID({}, std::nullopt)));
}

// --- Open-window count

void UiRulesTest::openWindowCount_data()
{
    // "a+" shows window a, "a-" closes it; the count after each step, then every anyOpenChanged value emitted.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<QList<bool>>("emissions");
    QTest::newRow("shown twice counts once")
        << QStringList { u"a+"_qs, u"a+"_qs, u"a-"_qs } << QList { 1, 1, 0 } << QList { true, false };
    QTest::newRow("never below 0") << QStringList { u"a-"_qs, u"a+"_qs, u"a-"_qs, u"a-"_qs } << QList { 0, 1, 0, 0 }
                                   << QList { true, false };
    QTest::newRow("two windows") << QStringList { u"a+"_qs, u"b+"_qs, u"a-"_qs, u"b-"_qs, u"b+"_qs }
                                 << QList { 1, 2, 1, 0, 1 } << QList { true, false, true };
    QTest::newRow("one window closed twice while another is open")
        << QStringList { u"a+"_qs, u"b+"_qs, u"a-"_qs, u"a-"_qs } << QList { 1, 2, 1, 1 } << QList { true };
}

void UiRulesTest::openWindowCount()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, counts);
    QFETCH(QList<bool>, emissions);

    OpenWindowCount count;
    QSignalSpy spy(&count, &OpenWindowCount::anyOpenChanged);
    std::map<QChar, std::unique_ptr<WindowRegistration>> windows;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        auto &window = windows[steps[i].at(0)];
        if (!window)
            window = std::make_unique<WindowRegistration>(count);
        if (steps[i].at(1) == u'+')
            window->shown();
        else
            window->closed();
        QCOMPARE(count.count(), counts[i]);
        QCOMPARE(count.anyOpen(), counts[i] > 0);
    }
    QList<bool> emitted;
    for (const QList<QVariant> &arguments : spy)
        emitted << arguments.at(0).toBool();
    QCOMPARE(emitted, emissions);
}

void UiRulesTest::destroyedRegistrationLeaves()
{
    auto count = std::make_unique<OpenWindowCount>();
    {
        WindowRegistration window(*count);
        window.shown();
        QCOMPARE(count->count(), 1);
    }
    QCOMPARE(count->count(), 0);

    // At exit the count may be gone before a window that is still open.
    WindowRegistration window(*count);
    window.shown();
    count.reset();
    window.closed();
    QVERIFY(!window.isRegistered());
}

QTEST_GUILESS_MAIN(UiRulesTest)
#include "UiRulesTest.moc"
