#pragma once

#include "core/Records.h"

#include <functional>

class QMenu;
class QWidget;

namespace oxle {

struct UiContext;

// What the user can do with one item, as menus: the context menu of rows and cards, and the detail pane's
// "Move", "Remind" and "Share" menus. Every entry starts a store operation and does not wait for it.
namespace ItemActions {

// Opens the item's link in the browser when it has one that parses; does nothing otherwise.
void openLink(UiContext &context, const Item &item);
// Open, Mark done, Move to (own lists only), Remind me, and Delete or Remove from my list.
QMenu *contextMenu(UiContext &context, const Item &item, QWidget *parent);
// One entry per list, in the store's order, moving the item there.
void fillMoveMenu(QMenu *menu, UiContext &context, const Item &item);
// The presets; with a custom action also "Custom time…".
void fillRemindMenu(QMenu *menu, UiContext &context, const Item &item, std::function<void()> customTime = {});
// Copy link, Email link, Open in browser: what sharing a link means on this desktop.
void fillShareMenu(QMenu *menu, UiContext &context, const Item &item);
// Puts the item's link on the clipboard as plain text.
void copyLink(const Item &item);

} // namespace ItemActions

} // namespace oxle
