// Reading the clipboard under a real X server: an owner that answers, one that never does, none at all, and
// text larger than the cap. While the reader waits the event loop keeps running.

#include "platform/linux/X11ClipboardText.h"
#include "support/CoroTest.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <memory>
#include <xcb/xcb.h>

using namespace oxle;
using namespace oxle::test;

namespace {

struct Disconnect
{
    void operator()(xcb_connection_t *connection) const { xcb_disconnect(connection); }
};

// A client that takes the CLIPBOARD and then never reads its events, as a hung application would.
class HungOwner
{
public:
    HungOwner()
        : m_connection(xcb_connect(nullptr, nullptr))
    {
        xcb_connection_t *c = m_connection.get();
        if (xcb_connection_has_error(c))
            return;
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        const char *name = "CLIPBOARD";
        xcb_intern_atom_reply_t *atom =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        xcb_set_selection_owner(c, window, atom->atom, XCB_CURRENT_TIME);
        xcb_get_selection_owner_reply_t *owner =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
        m_owns = owner && owner->owner == window;
        std::free(owner); // NOLINT(cppcoreguidelines-no-malloc): xcb reply
        std::free(atom);  // NOLINT(cppcoreguidelines-no-malloc): xcb reply
    }
    bool owns() const { return m_owns; }

private:
    std::unique_ptr<xcb_connection_t, Disconnect> m_connection;
    bool m_owns = false;
};

// Runs the reader while a timer ticks every 10 ms; answers the text and how many ticks the loop delivered.
std::pair<std::optional<QString>, int> readWhileTicking(qint64 *elapsed)
{
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(10);
    QElapsedTimer clock;
    clock.start();
    std::optional<QString> text = run(X11ClipboardText::read());
    *elapsed = clock.elapsed();
    return {text, ticks};
}

} // namespace

class X11ClipboardTextTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
            if (qEnvironmentVariableIntValue("OXLE_REQUIRE_SERVICES"))
                QFAIL("no X server (DISPLAY)");
            QSKIP("needs an X server (DISPLAY)");
        }
    }

    // Qt's own clipboard answers from this thread's event loop: the text only arrives if the loop runs.
    void answeringOwner_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");
        QTest::newRow("link") << QStringLiteral("https://bücher.de/wiki/Straße?q=1") << true;
        QTest::newRow("link with spaces") << QStringLiteral("  https://example.com/a \n") << true;
        QTest::newRow("at the cap") << QString(qsizetype{64} * 1024, QLatin1Char('a')) << true;
        QTest::newRow("over the cap") << QString(qsizetype{64} * 1024 + 1, QLatin1Char('a')) << false;
    }
    void answeringOwner()
    {
        QFETCH(QString, text);
        QFETCH(bool, expected);
        QGuiApplication::clipboard()->setText(text);
        qint64 elapsed = 0;
        const auto [read, ticks] = readWhileTicking(&elapsed);
        QCOMPARE(read.has_value(), expected);
        if (expected)
            QCOMPARE(*read, text);
    }

    void hungOwnerGivesNothingWithoutStoppingTheLoop()
    {
        HungOwner owner;
        QVERIFY(owner.owns());
        qint64 elapsed = 0;
        const auto [read, ticks] = readWhileTicking(&elapsed);
        QVERIFY(!read);
        QVERIFY2(elapsed >= 200 && elapsed < 600, qPrintable(QString::number(elapsed)));
        // A blocked loop would deliver one tick at most.
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    }

    void noOwnerGivesNothing()
    {
        {
            HungOwner owner;
            QVERIFY(owner.owns());
        } // ownership ends with the owner's connection
        qint64 elapsed = 0;
        const auto [read, ticks] = readWhileTicking(&elapsed);
        QVERIFY(!read);
        QVERIFY2(elapsed < 200, qPrintable(QString::number(elapsed)));
    }
};

int main(int argc, char *argv[])
{
    // Without an X server the xcb platform would abort before the test could skip.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    X11ClipboardTextTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "X11ClipboardTextTest.moc"
