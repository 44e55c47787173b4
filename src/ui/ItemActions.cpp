#include "ui/ItemActions.h"

#include "library/AppData.h"
#include "ui/ReminderPresets.h"
#include "ui/ScreenRules.h"
#include "ui/Symbols.h"
#include "ui/UiContext.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QTimeZone>

namespace oxle::ItemActions {

void openLink(UiContext &context, const Item &item)
{
    if (const auto url = ScreenRules::linkToOpen(item); url && context.openUrl)
        context.openUrl(*url);
}

void copyLink(const Item &item)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(item.url);
}

void fillMoveMenu(QMenu *menu, UiContext &context, const Item &item)
{
    for (const Category &category : context.data.categories()) {
        const QString id = category.id;
        menu->addAction(category.name, menu, [&context, item, id] { context.data.move(item, id); });
    }
}

void fillRemindMenu(QMenu *menu, UiContext &context, const Item &item, std::function<void()> customTime)
{
    auto preset = [&context, item](auto rule) {
        return [&context, item, rule] {
            const qint64 at = rule(context.now(), QTimeZone::systemTimeZone());
            context.data.setReminder(item, at);
        };
    };
    menu->addAction(QStringLiteral("In 1 hour"), menu,
                    preset([](const QDateTime &now, const QTimeZone &) { return ReminderPresets::inOneHour(now); }));
    menu->addAction(QStringLiteral("This evening"), menu, preset(&ReminderPresets::thisEvening));
    menu->addAction(QStringLiteral("Tomorrow morning"), menu, preset(&ReminderPresets::tomorrowMorning));
    if (customTime)
        menu->addAction(QStringLiteral("Custom time\u2026"), menu, std::move(customTime));
    menu->addSeparator();
    menu->addAction(QStringLiteral("Clear reminder"), menu,
                    [&context, item] { context.data.setReminder(item, std::nullopt); });
}

void fillShareMenu(QMenu *menu, UiContext &context, const Item &item)
{
    menu->addAction(Symbols::icon(QStringLiteral("doc.on.doc")), QStringLiteral("Copy link"), menu,
                    [item] { copyLink(item); });
    QAction *email = menu->addAction(QStringLiteral("Email link"), menu, [&context, item] {
        const QUrl mail = QUrl::fromEncoded("mailto:?subject=" + QUrl::toPercentEncoding(item.displayTitle())
                                            + "&body=" + QUrl::toPercentEncoding(item.url));
        if (context.openUrl)
            context.openUrl(mail);
    });
    QAction *open = menu->addAction(Symbols::icon(QStringLiteral("safari")), QStringLiteral("Open in browser"), menu,
                                    [&context, item] { openLink(context, item); });
    const bool hasLink = ScreenRules::linkToOpen(item).has_value();
    email->setEnabled(hasLink);
    open->setEnabled(hasLink);
}

QMenu *contextMenu(UiContext &context, const Item &item, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setAccessibleName(QStringLiteral("Item actions"));
    const bool shared = ScreenRules::isInSharedList(item, context.data.sharedCategoryIDs());
    const ScreenRules::ItemMenu entries = ScreenRules::itemMenu(item, shared);

    if (entries.open)
        menu->addAction(QStringLiteral("Open"), menu, [&context, item] { openLink(context, item); });
    menu->addAction(QStringLiteral("Mark done"), menu, [&context, item] { context.data.markDone(item); });
    if (entries.moveTo)
        fillMoveMenu(menu->addMenu(QStringLiteral("Move to")), context, item);
    fillRemindMenu(menu->addMenu(QStringLiteral("Remind me")), context, item);
    menu->addSeparator();
    menu->addAction(Symbols::icon(QStringLiteral("trash")), entries.removeLabel, menu,
                    [&context, item] { context.data.remove(item); });
    return menu;
}

} // namespace oxle::ItemActions
