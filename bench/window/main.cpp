// Peak memory (VmHWM) of a process showing oxle's main window with one list of 5,000 items (and 200 lists in the
// sidebar), beside a process showing a bare QListView over a QStringListModel of the same 5,000 titles. Each
// side runs in a child process of its own, so neither pays for the other. The window's library is held in
// memory, as the store holds it after a load. Goal: under 80 MiB.
// Usage: bench_window [items]

#include "FakeLibrary.h"

#include "ui/CategoryItemsView.h"
#include "ui/NativeContentController.h"
#include "ui/RootView.h"
#include "support/CoroTest.h"

#include <QApplication>
#include <QFile>
#include <QListView>
#include <QProcess>
#include <QStringListModel>
#include <QTextStream>

using namespace oxle;

namespace {

// The process's peak resident memory in KiB.
qint64 peakKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

void paintFully(QWidget &window)
{
    window.resize(1000, 700);
    window.show();
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    window.repaint();
    QApplication::processEvents();
}

int bare(int count)
{
    QStringList titles;
    for (int i = 0; i < count; ++i)
        titles << QStringLiteral("A reasonably long article title, number %1, about something worth reading").arg(i);
    QStringListModel model(titles);
    QListView view;
    view.setModel(&model);
    paintFully(view);
    QTextStream(stdout) << peakKilobytes() << '\n';
    return 0;
}

int window(int count)
{
    test::FakeStore store;
    for (int i = 0; i < 200; ++i)
        store.library.own << test::FakeLibrary::list(QStringLiteral("l%1").arg(i));
    for (int i = 0; i < count; ++i) {
        Item item = test::FakeLibrary::item(QStringLiteral("i%1").arg(i), QStringLiteral("l0"));
        item.title = QStringLiteral("A reasonably long article title, number %1, about something worth reading").arg(i);
        store.library.items << item;
    }
    store.signIn();
    OpenWindowCount windows;
    NativeContentController controller(store.context, windows);
    controller.show();
    test::run(store.data.refreshAll());
    RootView *root = controller.window()->rootView();
    root->setSelection(SidebarItem::category(QStringLiteral("l0")));
    test::run(store.data.loadItems(QStringLiteral("l0")));
    auto *list = qobject_cast<CategoryItemsView *>(root->currentScreen());
    if (!list || list->visibleItems().size() != count)
        return 1;
    paintFully(*controller.window());
    QTextStream(stdout) << peakKilobytes() << '\n';
    return 0;
}

qint64 childPeak(const QString &mode, int count)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {mode, QString::number(count)});
    if (!child.waitForFinished(120'000) || child.exitCode() != 0)
        return -1;
    return child.readAllStandardOutput().trimmed().toLongLong();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("OXLE_READER_PLUGIN", "none");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 2 && args[1] == QLatin1String("--bare"))
        return bare(args[2].toInt());
    if (args.size() > 2 && args[1] == QLatin1String("--window"))
        return window(args[2].toInt());

    const int count = args.size() > 1 ? args[1].toInt() : 5000;
    const qint64 barePeak = childPeak(QStringLiteral("--bare"), count);
    const qint64 windowPeak = childPeak(QStringLiteral("--window"), count);
    QTextStream out(stdout);
    out << QStringLiteral("bench_window: %1 items, platform %2\n").arg(count).arg(QApplication::platformName());
    out << QStringLiteral("  bare QListView window:   %1 MiB peak\n").arg(double(barePeak) / 1024.0, 0, 'f', 1);
    out << QStringLiteral("  oxle main window + list: %1 MiB peak (%2x; goal under 80 MiB)\n")
               .arg(double(windowPeak) / 1024.0, 0, 'f', 1)
               .arg(double(windowPeak) / double(barePeak), 0, 'f', 2);
    return barePeak > 0 && windowPeak > 0 ? 0 : 1;
}
