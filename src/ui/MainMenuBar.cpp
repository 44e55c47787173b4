#include "ui/MainMenuBar.h"

#include "ui/MainMenuRules.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

namespace oxle {

namespace {

// Text fields take these as slots of their own (QLineEdit, QTextEdit, QPlainTextEdit, spin boxes' editors).
void editFocused(const char *slot)
{
    if (QWidget *focused = QApplication::focusWidget())
        QMetaObject::invokeMethod(focused, slot);
}

// No text widget has a slot for deleting the selection; the Delete key does it everywhere.
void deleteInFocused()
{
    QWidget *focused = QApplication::focusWidget();
    if (!focused)
        return;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(focused, &press);
    QApplication::sendEvent(focused, &release);
}

void onActiveWindow(const std::function<void(QWidget *)> &act)
{
    if (QWidget *window = QApplication::activeWindow())
        act(window);
}

std::function<void()> commandAction(MainMenuCommand command, const MainMenuActions &actions)
{
    using C = MainMenuCommand;
    switch (command) {
    case C::About:
        return actions.about;
    case C::Settings:
        return actions.settings;
    case C::Hide:
        return actions.hide;
    case C::Quit:
        return actions.quit;
    case C::Undo:
        return [] { editFocused("undo"); };
    case C::Redo:
        return [] { editFocused("redo"); };
    case C::Cut:
        return [] { editFocused("cut"); };
    case C::Copy:
        return [] { editFocused("copy"); };
    case C::Paste:
        return [] { editFocused("paste"); };
    case C::Delete:
        return &deleteInFocused;
    case C::SelectAll:
        return [] { editFocused("selectAll"); };
    case C::Close:
        return [] { onActiveWindow([](QWidget *window) { window->close(); }); };
    case C::Minimize:
        return [] { onActiveWindow([](QWidget *window) { window->showMinimized(); }); };
    case C::Zoom:
        return [] {
            onActiveWindow([](QWidget *window) { window->isMaximized() ? window->showNormal() : window->showMaximized(); });
        };
    }
    return {};
}

} // namespace

void installMainMenu(QMenuBar *bar, const MainMenuActions &actions)
{
    bar->clear();
    for (const MainMenuSection &section : mainMenuLayout()) {
        QMenu *menu = bar->addMenu(section.title);
        menu->setAccessibleName(section.title);
        for (const MainMenuEntry &entry : section.entries) {
            if (!entry.command) {
                menu->addSeparator();
                continue;
            }
            QAction *action = menu->addAction(entry.title);
            action->setShortcut(entry.keys);
            // The editing keys stay with text fields, which handle them first; elsewhere they act on the focus.
            action->setShortcutContext(Qt::WindowShortcut);
            std::function<void()> run = commandAction(*entry.command, actions);
            action->setEnabled(bool(run));
            QObject::connect(action, &QAction::triggered, bar, [run = std::move(run)] {
                if (run)
                    run();
            });
        }
    }
}

} // namespace oxle
