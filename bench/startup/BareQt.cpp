// The baseline: a Qt process that creates its application object, enters the event loop and leaves it.
#include <QCoreApplication>
#include <QMetaObject>
#ifdef OXLE_BARE_WITH_WIDGETS
#include <QWidget>
#endif

int main(int argc, char *argv[])
{
#ifdef OXLE_BARE_WITH_WIDGETS
    // Only loads the widget libraries (as the share target must), without creating any window.
    const QMetaObject *volatile widgets = &QWidget::staticMetaObject;
    Q_UNUSED(widgets);
#endif
    QCoreApplication app(argc, argv);
    QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    return app.exec();
}
