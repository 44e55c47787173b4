#include "ui/MainMenuRules.h"

namespace oxle {

namespace {

MainMenuEntry entry(const char *title, MainMenuCommand command, QKeySequence keys = {})
{
    return MainMenuEntry{QString::fromUtf8(title), command, std::move(keys)};
}

MainMenuEntry separator()
{
    return MainMenuEntry{};
}

} // namespace

QList<MainMenuSection> mainMenuLayout()
{
    using C = MainMenuCommand;
    return {
        {QStringLiteral("oxle"),
         {
             entry("About oxle", C::About),
             separator(),
             entry("Settings…", C::Settings, QKeySequence(Qt::CTRL | Qt::Key_Comma)),
             separator(),
             entry("Hide oxle", C::Hide, QKeySequence(Qt::CTRL | Qt::Key_H)),
             separator(),
             entry("Quit oxle", C::Quit, QKeySequence(Qt::CTRL | Qt::Key_Q)),
         }},
        {QStringLiteral("Edit"),
         {
             entry("Undo", C::Undo, QKeySequence(Qt::CTRL | Qt::Key_Z)),
             entry("Redo", C::Redo, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)),
             separator(),
             entry("Cut", C::Cut, QKeySequence(Qt::CTRL | Qt::Key_X)),
             entry("Copy", C::Copy, QKeySequence(Qt::CTRL | Qt::Key_C)),
             entry("Paste", C::Paste, QKeySequence(Qt::CTRL | Qt::Key_V)),
             entry("Delete", C::Delete),
             entry("Select All", C::SelectAll, QKeySequence(Qt::CTRL | Qt::Key_A)),
         }},
        {QStringLiteral("File"), {entry("Close", C::Close, QKeySequence(Qt::CTRL | Qt::Key_W))}},
        {QStringLiteral("Window"),
         {
             entry("Minimize", C::Minimize, QKeySequence(Qt::CTRL | Qt::Key_M)),
             entry("Zoom", C::Zoom),
         }},
    };
}

} // namespace oxle
