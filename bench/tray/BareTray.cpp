// The baseline for the tray instance: a Qt process that shows a tray icon with a five-entry menu and waits.
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    QPainter(&pixmap).fillRect(4, 4, 14, 14, Qt::black);
    QMenu menu;
    for (const char *title : {"Add", "Save current tab", "Open", "Settings…", "Quit"})
        menu.addAction(QString::fromUtf8(title));
    const QIcon image(pixmap);
    QSystemTrayIcon icon(image);
    icon.setContextMenu(&menu);
    icon.show();
    return app.exec();
}
