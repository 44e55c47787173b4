// How much the item delegates cost over Qt's plain list: the time from handing 5,000 items to the model until
// the view has painted, and a full scroll to the bottom, one viewport at a time, each repainted. The list rows,
// the card grid and a sidebar of 200 lists are each measured beside a bare QListView over a QStringListModel
// of the same rows. Goals: first paint at most 2x the bare view, a full scroll at most 3x.
// Usage: bench_gui [items] [rounds]

#include "ui/ItemDelegates.h"
#include "ui/ItemListModel.h"
#include "ui/SidebarDelegate.h"
#include "ui/SidebarModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QScrollBar>
#include <QStringListModel>
#include <QTextStream>
#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

using namespace oxle;

namespace {

constexpr QSize windowSize(900, 700);

QList<Item> generateItems(int count)
{
    static const char *types[] = { "article", "video", "link", "podcast", "music", "reel" };
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QList<Item> items;
    items.reserve(count);
    for (int i = 0; i < count; ++i) {
        Item item;
        item.id = QStringLiteral("item-%1").arg(i);
        item.url = QStringLiteral("https://www.example%1.com/articles/%2?ref=home").arg(i % 40).arg(i);
        if (i % 5)
            item.title
                = QStringLiteral("A reasonably long article title, number %1, about something worth reading").arg(i);
        if (i % 3)
            item.sourceDomain = QStringLiteral("example%1.com").arg(i % 40);
        item.contentType = QString::fromLatin1(types[i % 6]);
        item.status = i % 7 == 0 ? QStringLiteral("done") : QStringLiteral("queued");
        item.createdAt = now - qint64(i) * 37 * 60'000;
        items.append(item);
    }
    return items;
}

QList<Category> generateLists(int count)
{
    static const char *icons[] = { "sparkles", "book", "music", "star", "coffee", "code", "cart", "plane" };
    QList<Category> lists;
    for (int i = 0; i < count; ++i) {
        Category category;
        category.id = QStringLiteral("list-%1").arg(i);
        category.name = QStringLiteral("Reading list %1").arg(i);
        category.color = QStringLiteral("#%1").arg((i * 2654435761u) & 0xffffff, 6, 16, QLatin1Char('0'));
        category.icon = QString::fromLatin1(icons[i % 8]);
        lists.append(category);
    }
    return lists;
}

// Counts paint events of a view's viewport.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

struct Setup
{
    std::function<void(QListView &)> configure; // delegate, mode, sizes
    std::function<void()> fill; // hands the rows to the model
    std::function<void()> clear;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds from filling the model until the shown view has painted.
double firstPaint(QListView &view, const Setup &setup)
{
    setup.clear();
    QApplication::processEvents();
    PaintCounter counter;
    view.viewport()->installEventFilter(&counter);
    QElapsedTimer timer;
    timer.start();
    setup.fill();
    while (counter.paints == 0 && timer.elapsed() < 10'000)
        QApplication::processEvents();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    view.viewport()->removeEventFilter(&counter);
    return ms;
}

// Milliseconds to scroll from top to bottom in viewport-height steps, painting every step.
double fullScroll(QListView &view, int *steps)
{
    QScrollBar *bar = view.verticalScrollBar();
    bar->setValue(0);
    QApplication::processEvents();
    const int step = view.viewport()->height();
    int count = 0;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        view.viewport()->repaint();
        ++count;
        if (bar->value() >= bar->maximum())
            break;
        bar->setValue(bar->value() + step);
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (steps)
        *steps = count;
    return ms;
}

struct Figures
{
    double firstPaint;
    double scroll;
    int steps;
};

struct Sample
{
    double firstPaint;
    double scroll;
    int steps;
};

Sample sample(const Setup &setup)
{
    QListView view;
    view.setUniformItemSizes(true);
    view.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setup.configure(view);
    view.resize(windowSize);
    view.show();
    QApplication::processEvents();
    Sample result {};
    result.firstPaint = firstPaint(view, setup);
    result.scroll = fullScroll(view, &result.steps);
    return result;
}

// Ours and the bare view take turns, so both see the same warm caches and the same machine load.
std::pair<Figures, Figures> measure(const Setup &ours, const Setup &bare, int rounds)
{
    std::vector<double> paints[2];
    std::vector<double> scrolls[2];
    int steps[2] = { 0, 0 };
    for (int round = 0; round < rounds; ++round) {
        for (int which = 0; which < 2; ++which) {
            const Sample s = sample(which == 0 ? ours : bare);
            paints[which].push_back(s.firstPaint);
            scrolls[which].push_back(s.scroll);
            steps[which] = s.steps;
        }
    }
    return { { median(paints[0]), median(scrolls[0]), steps[0] }, { median(paints[1]), median(scrolls[1]), steps[1] } };
}

void report(QTextStream &out, const QString &name, const Figures &ours, const Figures &bare)
{
    out << name << '\n';
    out << QStringLiteral("  first paint  %1 ms   bare %2 ms   ratio %3   (goal <= 2.0)\n")
               .arg(ours.firstPaint, 0, 'f', 2)
               .arg(bare.firstPaint, 0, 'f', 2)
               .arg(ours.firstPaint / bare.firstPaint, 0, 'f', 2);
    out << QStringLiteral("  full scroll  %1 ms   bare %2 ms   ratio %3   (goal <= 3.0; %4 and %5 viewports)\n")
               .arg(ours.scroll, 0, 'f', 2)
               .arg(bare.scroll, 0, 'f', 2)
               .arg(ours.scroll / bare.scroll, 0, 'f', 2)
               .arg(ours.steps)
               .arg(bare.steps);
    out.flush();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int itemCount = args.size() > 1 ? args.at(1).toInt() : 5000;
    const int rounds = args.size() > 2 ? args.at(2).toInt() : 5;
    const int listCount = 200;

    const QList<Item> items = generateItems(itemCount);
    QStringList titles;
    for (const Item &item : items)
        titles.append(item.displayTitle());
    const QList<Category> lists = generateLists(listCount);
    QStringList listNames;
    QHash<QString, int> counts;
    QSet<QString> shared;
    for (int i = 0; i < lists.size(); ++i) {
        listNames.append(lists[i].name);
        if (i % 3)
            counts.insert(lists[i].id, i * 7);
        if (i % 10 == 0)
            shared.insert(lists[i].id);
    }

    ItemListModel itemModel(nullptr);
    SidebarModel sidebarModel;
    QStringListModel bareModel;
    ItemRowDelegate rowDelegate;
    ItemCardDelegate cardDelegate;
    SidebarDelegate sidebarDelegate;

    const auto bareFill = [&](const QStringList &rows) {
        return Setup { nullptr, [&bareModel, rows] { bareModel.setStringList(rows); },
            [&bareModel] { bareModel.setStringList({}); } };
    };
    const Setup itemRows { [&](QListView &view) {
                              view.setModel(&itemModel);
                              view.setItemDelegate(&rowDelegate);
                          },
        [&] { itemModel.setItems(items); }, [&] { itemModel.setItems({}); } };

    const auto gridMode = [&](QListView &view) {
        view.setViewMode(QListView::IconMode);
        view.setMovement(QListView::Static);
        view.setResizeMode(QListView::Adjust);
        view.setWrapping(true);
        const int usable = windowSize.width() - 2 * 16 - view.verticalScrollBar()->sizeHint().width();
        cardDelegate.setCardWidth(ItemCardDelegate::adaptiveCardWidth(usable));
        view.setGridSize(cardDelegate.cardSize() + QSize(ItemCardDelegate::spacing, ItemCardDelegate::spacing));
    };
    const Setup itemCards { [&](QListView &view) {
                               view.setModel(&itemModel);
                               view.setItemDelegate(&cardDelegate);
                               gridMode(view);
                           },
        [&] { itemModel.setItems(items); }, [&] { itemModel.setItems({}); } };

    Setup bareRows = bareFill(titles);
    bareRows.configure = [&](QListView &view) { view.setModel(&bareModel); };
    Setup bareGrid = bareFill(titles);
    bareGrid.configure = [&](QListView &view) {
        view.setModel(&bareModel);
        gridMode(view);
    };

    const Setup sidebarRows { [&](QListView &view) {
                                 view.setUniformItemSizes(false);
                                 view.setModel(&sidebarModel);
                                 view.setItemDelegate(&sidebarDelegate);
                             },
        [&] { sidebarModel.setCategories(lists, shared, counts); }, [&] { sidebarModel.setCategories({}, {}, {}); } };
    QStringList sidebarNames = QStringList { QStringLiteral("Lists") } + listNames
        + QStringList { QString(), QStringLiteral("Inbox"), QStringLiteral("Notes") };
    Setup bareSidebar = bareFill(sidebarNames);
    bareSidebar.configure = [&](QListView &view) {
        view.setUniformItemSizes(false);
        view.setModel(&bareModel);
    };

    QTextStream out(stdout);
    out << QStringLiteral("bench_gui: %1 items, %2 lists, median of %3 rounds, window %4x%5, platform %6\n")
               .arg(itemCount)
               .arg(listCount)
               .arg(rounds)
               .arg(windowSize.width())
               .arg(windowSize.height())
               .arg(QApplication::platformName());
    const auto [rowFigures, bareListFigures] = measure(itemRows, bareRows, rounds);
    report(out, QStringLiteral("list rows (ItemRowDelegate)"), rowFigures, bareListFigures);
    const auto [cardFigures, bareGridFigures] = measure(itemCards, bareGrid, rounds);
    report(out, QStringLiteral("card grid (ItemCardDelegate, IconMode)"), cardFigures, bareGridFigures);
    const auto [sidebarFigures, bareSidebarFigures] = measure(sidebarRows, bareSidebar, rounds);
    report(
        out, QStringLiteral("sidebar, %1 lists (SidebarDelegate)").arg(listCount), sidebarFigures, bareSidebarFigures);
    return 0;
}
