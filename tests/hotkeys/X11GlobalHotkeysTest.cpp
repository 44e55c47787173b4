#include "platform/linux/X11GlobalHotkeys.h"
#include "platform/PlatformGui.h"
#include "support/TestWindowManager.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

using namespace oxle;

namespace {

constexpr int pressMs = 10'000;
constexpr int quietMs = 1'000;

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); } // NOLINT(cppcoreguidelines-no-malloc): xcb replies
};

int xdotool(const QStringList &args, QString *output = nullptr)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), args);
    if (!process.waitForFinished(10'000))
        return -1;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// A second client of the display, as another application would be.
class OtherClient
{
public:
    OtherClient()
    {
        int screen = 0;
        m_connection = xcb_connect(nullptr, &screen);
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screen && screens.rem; ++i)
            xcb_screen_next(&screens);
        m_screen = screens.data;
    }
    ~OtherClient() { xcb_disconnect(m_connection); }
    OtherClient(const OtherClient &) = delete;
    OtherClient &operator=(const OtherClient &) = delete;

    bool ok() const { return !xcb_connection_has_error(m_connection) && m_screen; }
    xcb_window_t root() const { return m_screen->root; }

    xcb_keycode_t keycode(char letter) const
    {
        const xcb_setup_t *setup = xcb_get_setup(m_connection);
        const auto count = uint8_t(setup->max_keycode - setup->min_keycode + 1);
        std::unique_ptr<xcb_get_keyboard_mapping_reply_t, FreeDeleter> mapping(xcb_get_keyboard_mapping_reply(
            m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, count), nullptr));
        const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
        for (int k = 0; k < count; ++k) {
            if (keysyms[ptrdiff_t(k) * mapping->keysyms_per_keycode] == xcb_keysym_t(letter))
                return xcb_keycode_t(setup->min_keycode + k);
        }
        return 0;
    }

    // The symbols of a key, all columns of the mapping; a key without any when row is empty.
    std::vector<xcb_keysym_t> row(xcb_keycode_t keycode) const
    {
        std::unique_ptr<xcb_get_keyboard_mapping_reply_t, FreeDeleter> mapping(
            xcb_get_keyboard_mapping_reply(m_connection, xcb_get_keyboard_mapping(m_connection, keycode, 1), nullptr));
        const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
        return { keysyms, keysyms + mapping->keysyms_per_keycode };
    }

    xcb_keycode_t unusedKeycode() const
    {
        const xcb_setup_t *setup = xcb_get_setup(m_connection);
        for (int k = setup->max_keycode; k >= setup->min_keycode; --k) {
            const std::vector<xcb_keysym_t> symbols = row(xcb_keycode_t(k));
            if (std::all_of(symbols.begin(), symbols.end(), [](xcb_keysym_t s) { return s == 0; }))
                return xcb_keycode_t(k);
        }
        return 0;
    }

    void setRow(xcb_keycode_t keycode, std::vector<xcb_keysym_t> symbols)
    {
        symbols.resize(row(keycode).size());
        xcb_change_keyboard_mapping(m_connection, 1, keycode, uint8_t(symbols.size()), symbols.data());
        xcb_flush(m_connection);
    }

    // Whether this client may grab the key with exactly these modifiers; keeps the grab when it may.
    bool grab(xcb_keycode_t keycode, uint16_t modifiers)
    {
        const auto cookie = xcb_grab_key_checked(
            m_connection, 1, root(), modifiers, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        std::unique_ptr<xcb_generic_error_t, FreeDeleter> error(xcb_request_check(m_connection, cookie));
        return !error;
    }

    void ungrab(xcb_keycode_t keycode, uint16_t modifiers)
    {
        xcb_ungrab_key(m_connection, keycode, root(), modifiers);
        // A round trip: the server has done it before anyone else asks for the keys.
        std::unique_ptr<xcb_get_input_focus_reply_t, FreeDeleter> sync(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

    // Waits for a key press delivered to this client.
    bool pressArrives(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            while (std::unique_ptr<xcb_generic_event_t, FreeDeleter> event { xcb_poll_for_event(m_connection) }) {
                if ((event->response_type & ~0x80) == XCB_KEY_PRESS)
                    return true;
            }
            QTest::qWait(20);
        }
        return false;
    }

    uint16_t modifierState()
    {
        std::unique_ptr<xcb_query_pointer_reply_t, FreeDeleter> reply(
            xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, root()), nullptr));
        return reply ? reply->mask : 0;
    }

    // A 32-bit property of a window, 0 when it has none.
    quint32 cardinal(xcb_window_t window, const char *name)
    {
        std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> atom(xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, uint16_t(strlen(name)), name), nullptr));
        if (!atom)
            return 0;
        std::unique_ptr<xcb_get_property_reply_t, FreeDeleter> reply(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 1),
            nullptr));
        if (!reply || xcb_get_property_value_length(reply.get()) < 4)
            return 0;
        quint32 value = 0;
        memcpy(&value, xcb_get_property_value(reply.get()), sizeof value);
        return value;
    }

    // A plain top-level window of this client, mapped.
    xcb_window_t showWindow()
    {
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, root(), 100, 100, 300, 200, 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen->root_visual, 0, nullptr);
        xcb_map_window(m_connection, window);
        xcb_flush(m_connection);
        return window;
    }

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_screen_t *m_screen = nullptr;
};

// Standard modifier bits of the core protocol; Num Lock is Mod2 on the X server's default map.
constexpr uint16_t controlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
constexpr uint16_t numLock = XCB_MOD_MASK_2;

} // namespace

// Global keys on the X server of the test session: presses come from XTest (xdotool), as from a keyboard.
class X11GlobalHotkeysTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<GlobalHotkeys> m_hotkeys;
    oxle::test::TestWindowManager m_windowManager;

    void press(const QString &keys) { QCOMPARE(xdotool({ QStringLiteral("key"), keys }), 0); }

private Q_SLOTS:
    void initTestCase()
    {
        QString missing;
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            missing = QStringLiteral(" an X display (run under scripts/lib/session-services)");
        for (const char *tool : { "xdotool", "openbox" }) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                missing += QStringLiteral(" ") + QString::fromLatin1(tool);
        }
        if (!missing.isEmpty()) {
            const QString error = QStringLiteral("missing:") + missing;
            if (qEnvironmentVariableIntValue("OXLE_REQUIRE_SERVICES"))
                QFAIL(qPrintable(error));
            QSKIP(qPrintable(error));
        }
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));

        // Focus-stealing prevention is the window manager's; the keys themselves need none.
        QVERIFY2(m_windowManager.start(), "no window manager came up");
    }

    void cleanupTestCase()
    {
        m_windowManager.stop();
    }

    void init()
    {
        m_hotkeys = platform::createGlobalHotkeys();
        QVERIFY(dynamic_cast<X11GlobalHotkeys *>(m_hotkeys.get()));
    }

    void cleanup() { m_hotkeys.reset(); }

    void keysymsOfQtKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<quint32>("keysym");
        QTest::newRow("letter: the lower-case symbol") << int(Qt::Key_U) << quint32('u');
        QTest::newRow("digit") << int(Qt::Key_7) << quint32('7');
        QTest::newRow("punctuation") << int(Qt::Key_Comma) << quint32(',');
        QTest::newRow("function key") << int(Qt::Key_F12) << quint32(0xffc9);
        QTest::newRow("navigation") << int(Qt::Key_PageDown) << quint32(0xff56);
        QTest::newRow("no symbol") << int(Qt::Key_Launch0) << quint32(0);
    }

    void keysymsOfQtKeys()
    {
        QFETCH(int, key);
        QFETCH(quint32, keysym);
        QCOMPARE(X11GlobalHotkeys::keysymForKey(Qt::Key(key)), keysym);
    }

    // Each key reaches its own id, with the press's server time, on the main thread after the event filter;
    // a lit lock key changes nothing.
    void pressReachesItsAction_data()
    {
        QTest::addColumn<QStringList>("locks");
        QTest::addColumn<int>("lockBits");
        QTest::newRow("no lock") << QStringList() << 0;
        QTest::newRow("Num Lock") << QStringList { QStringLiteral("Num_Lock") } << int(numLock);
        QTest::newRow("Caps Lock") << QStringList { QStringLiteral("Caps_Lock") } << int(XCB_MOD_MASK_LOCK);
        QTest::newRow("Num Lock and Caps Lock") << QStringList { QStringLiteral("Num_Lock"), QStringLiteral("Caps_Lock") }
                                                << int(numLock | XCB_MOD_MASK_LOCK);
    }

    void pressReachesItsAction()
    {
        QFETCH(QStringList, locks);
        QFETCH(int, lockBits);
        OtherClient display;
        QVERIFY(display.ok());

        QVERIFY(m_hotkeys->registerHotkey(GlobalHotkeys::captureId, GlobalHotkeys::defaultCaptureKeys));
        QVERIFY(m_hotkeys->registerHotkey(GlobalHotkeys::saveTabId, GlobalHotkeys::defaultSaveTabKeys));
        QCOMPARE(m_hotkeys->inUse(GlobalHotkeys::captureId), GlobalHotkeys::defaultCaptureKeys);
        QCOMPARE(m_hotkeys->inUse(GlobalHotkeys::saveTabId), GlobalHotkeys::defaultSaveTabKeys);

        for (const QString &lock : locks)
            press(lock);
        const auto unlock = qScopeGuard([&] {
            for (const QString &lock : locks)
                xdotool({ QStringLiteral("key"), lock });
        });
        QTRY_COMPARE_WITH_TIMEOUT(display.modifierState() & (numLock | XCB_MOD_MASK_LOCK), lockBits, pressMs);

        QSignalSpy spy(m_hotkeys.get(), &GlobalHotkeys::activated);
        bool onMainThread = true;
        connect(m_hotkeys.get(), &GlobalHotkeys::activated, this,
            [&] { onMainThread = onMainThread && QThread::currentThread() == qApp->thread(); });

        press(QStringLiteral("ctrl+alt+u"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, pressMs);
        QCOMPARE(spy.at(0).at(0).toUInt(), GlobalHotkeys::captureId);
        const quint32 first = spy.at(0).at(1).toUInt();
        QVERIFY(first > 0);

        press(QStringLiteral("ctrl+alt+s"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, pressMs);
        QCOMPARE(spy.at(1).at(0).toUInt(), GlobalHotkeys::saveTabId);
        QVERIFY(spy.at(1).at(1).toUInt() >= first);

        // Released and pressed again: a second press, not a repeat.
        press(QStringLiteral("ctrl+alt+u"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 3, pressMs);
        QCOMPARE(spy.at(2).at(0).toUInt(), GlobalHotkeys::captureId);

        // Other modifiers make other shortcuts.
        press(QStringLiteral("ctrl+alt+shift+u"));
        press(QStringLiteral("ctrl+u"));
        QTest::qWait(quietMs);
        QCOMPARE(spy.size(), 3);
        QVERIFY(onMainThread);
    }

    // A key held down repeats its press; the action runs once.
    void heldKeyFiresOnce()
    {
        QVERIFY(m_hotkeys->registerHotkey(GlobalHotkeys::captureId, GlobalHotkeys::defaultCaptureKeys));
        QSignalSpy spy(m_hotkeys.get(), &GlobalHotkeys::activated);
        const auto release = qScopeGuard([] { xdotool({ QStringLiteral("keyup"), QStringLiteral("ctrl+alt+u") }); });
        QCOMPARE(xdotool({ QStringLiteral("keydown"), QStringLiteral("ctrl+alt+u") }), 0);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, pressMs);
        QCOMPARE(xdotool({ QStringLiteral("keydown"), QStringLiteral("u") }), 0);
        QCOMPARE(xdotool({ QStringLiteral("keydown"), QStringLiteral("u") }), 0);
        QTest::qWait(quietMs);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(xdotool({ QStringLiteral("keyup"), QStringLiteral("ctrl+alt+u") }), 0);
        press(QStringLiteral("ctrl+alt+u"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, pressMs);
    }

    // Keys another application holds are unavailable, without disturbing its grab or the other key; once it
    // lets go they can be had.
    void keysHeldByAnotherClient()
    {
        OtherClient other;
        QVERIFY(other.ok());
        const xcb_keycode_t s = other.keycode('s');
        QVERIFY(s);
        QVERIFY(other.grab(s, controlAlt | numLock)); // only one of the lock variants: the whole key is refused

        QVERIFY(!m_hotkeys->registerHotkey(GlobalHotkeys::saveTabId, GlobalHotkeys::defaultSaveTabKeys));
        QCOMPARE(m_hotkeys->inUse(GlobalHotkeys::saveTabId), std::nullopt);
        QVERIFY(m_hotkeys->registerHotkey(GlobalHotkeys::captureId, GlobalHotkeys::defaultCaptureKeys));

        // What we got of the refused key went back: the plain combination is free for a third client.
        {
            OtherClient third;
            QVERIFY(third.grab(s, controlAlt));
            third.ungrab(s, controlAlt);
        }

        QSignalSpy spy(m_hotkeys.get(), &GlobalHotkeys::activated);
        press(QStringLiteral("ctrl+alt+u"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, pressMs);
        QCOMPARE(spy.at(0).at(0).toUInt(), GlobalHotkeys::captureId);

        // The owner still gets its key.
        press(QStringLiteral("Num_Lock"));
        const auto unlock = qScopeGuard([] { xdotool({ QStringLiteral("key"), QStringLiteral("Num_Lock") }); });
        press(QStringLiteral("ctrl+alt+s"));
        QVERIFY(other.pressArrives(pressMs));
        QTest::qWait(quietMs);
        QCOMPARE(spy.size(), 1);

        other.ungrab(s, controlAlt | numLock);
        QVERIFY(m_hotkeys->registerHotkey(GlobalHotkeys::saveTabId, GlobalHotkeys::defaultSaveTabKeys));
        press(QStringLiteral("ctrl+alt+s"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, pressMs);
        QCOMPARE(spy.at(1).at(0).toUInt(), GlobalHotkeys::saveTabId);
    }

    // Unregistering or destroying releases every lock variant: nothing more is delivered, and another client
    // may take the keys, lit Num Lock included.
    void releasedKeysAreFree_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("unregister") << false;
        QTest::newRow("destroy") << true;
    }

    void releasedKeysAreFree()
    {
        QFETCH(bool, destroy);
        OtherClient other;
        QVERIFY(other.ok());
        const xcb_keycode_t u = other.keycode('u');
        QVERIFY(m_hotkeys->registerHotkey(GlobalHotkeys::captureId, GlobalHotkeys::defaultCaptureKeys));
        QVERIFY(!other.grab(u, controlAlt | numLock));

        QSignalSpy spy(m_hotkeys.get(), &GlobalHotkeys::activated);
        press(QStringLiteral("ctrl+alt+u"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, pressMs);

        if (destroy) {
            m_hotkeys.reset();
        } else {
            m_hotkeys->unregisterHotkey(GlobalHotkeys::captureId);
            QCOMPARE(m_hotkeys->inUse(GlobalHotkeys::captureId), std::nullopt);
            press(QStringLiteral("ctrl+alt+u"));
            QTest::qWait(quietMs);
            QCOMPARE(spy.size(), 1);
        }
        for (const uint16_t locks : { 0, int(numLock), int(XCB_MOD_MASK_LOCK), int(numLock | XCB_MOD_MASK_LOCK) }) {
            QVERIFY2(other.grab(u, controlAlt | locks), qPrintable(QString::number(locks)));
            other.ungrab(u, controlAlt | locks);
        }
    }

    // The filter takes our key with any lock bits, hands the press over only after it returned, and a press
    // whose id went away before then runs nothing.
    void deliveryAfterTheEventFilter_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("ours");
        QTest::addColumn<bool>("unregisterFirst");
        QTest::newRow("delivered") << int(controlAlt) << true << false;
        QTest::newRow("lock bits, pointer buttons and group ignored")
            << int(controlAlt | numLock | XCB_MOD_MASK_LOCK | XCB_KEY_BUT_MASK_BUTTON_1 | 0x2000) << true << false;
        QTest::newRow("unregistered before delivery") << int(controlAlt) << true << true;
        QTest::newRow("other modifiers") << int(controlAlt | XCB_MOD_MASK_SHIFT) << false << false;
    }

    void deliveryAfterTheEventFilter()
    {
        QFETCH(int, state);
        QFETCH(bool, ours);
        QFETCH(bool, unregisterFirst);
        OtherClient display;
        QVERIFY(display.ok());
        QVERIFY(m_hotkeys->registerHotkey(GlobalHotkeys::captureId, GlobalHotkeys::defaultCaptureKeys));
        QSignalSpy spy(m_hotkeys.get(), &GlobalHotkeys::activated);

        xcb_key_press_event_t event {};
        event.response_type = XCB_KEY_PRESS;
        event.detail = display.keycode('u');
        event.root = event.event = display.root();
        event.state = uint16_t(state);
        event.time = 4321;
        auto *filter = dynamic_cast<X11GlobalHotkeys *>(m_hotkeys.get());
        QCOMPARE(filter->nativeEventFilter("xcb_generic_event_t", &event, nullptr), ours);
        QCOMPARE(spy.size(), 0);
        if (unregisterFirst)
            m_hotkeys->unregisterHotkey(GlobalHotkeys::captureId);
        QTest::qWait(100);
        QCOMPARE(spy.size(), ours && !unregisterFirst ? 1 : 0);
        if (!spy.isEmpty())
            QCOMPARE(spy.at(0).at(1).toUInt(), 4321U);
    }

    // When the keyboard map moves the symbol to another key, the grab follows it.
    void grabFollowsTheKeyboardMap()
    {
        OtherClient other;
        QVERIFY(other.ok());
        const xcb_keycode_t original = other.keycode('u');
        const xcb_keycode_t spare = other.unusedKeycode();
        QVERIFY(original && spare);
        const std::vector<xcb_keysym_t> originalRow = other.row(original);
        QVERIFY(m_hotkeys->registerHotkey(GlobalHotkeys::captureId, GlobalHotkeys::defaultCaptureKeys));

        other.setRow(spare, { 'u', 'U' });
        other.setRow(original, {});
        const auto restore = qScopeGuard([&] {
            other.setRow(original, originalRow);
            other.setRow(spare, {});
        });
        QTRY_COMPARE_WITH_TIMEOUT(other.keycode('u'), spare, pressMs);
        // The old key is let go, the new one taken.
        const auto grabbable = [&](xcb_keycode_t keycode) {
            const bool free = other.grab(keycode, controlAlt);
            if (free)
                other.ungrab(keycode, controlAlt);
            return free;
        };
        QTRY_VERIFY_WITH_TIMEOUT(grabbable(original) && !grabbable(spare), pressMs);
        QCOMPARE(m_hotkeys->inUse(GlobalHotkeys::captureId), GlobalHotkeys::defaultCaptureKeys);

        QSignalSpy spy(m_hotkeys.get(), &GlobalHotkeys::activated);
        press(QStringLiteral("ctrl+alt+u"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, pressMs);
        QCOMPARE(spy.at(0).at(0).toUInt(), GlobalHotkeys::captureId);
    }

    // The panel opened by a key press takes the keyboard from another application's window.
    void panelTakesFocusFromOtherApplication()
    {
        OtherClient other;
        QVERIFY(other.ok());
        const xcb_window_t otherWindow = other.showWindow();
        QCOMPARE(xdotool({ QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(otherWindow) }), 0);
        QString active;
        QTRY_VERIFY_WITH_TIMEOUT(
            xdotool({ QStringLiteral("getactivewindow") }, &active) == 0 && active == QString::number(otherWindow),
            pressMs);

        QWidget panel(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
        auto *field = new QLineEdit(&panel);
        panel.resize(360, 120);
        QVERIFY(m_hotkeys->registerHotkey(GlobalHotkeys::captureId, GlobalHotkeys::defaultCaptureKeys));
        quint32 pressTime = 0;
        connect(m_hotkeys.get(), &GlobalHotkeys::activated, &panel, [&](quint32, quint32 timestamp) {
            pressTime = timestamp;
            panel.show();
            platform::activateWithTimestamp(&panel, timestamp);
        });
        press(QStringLiteral("ctrl+alt+u"));

        QTRY_VERIFY_WITH_TIMEOUT(panel.isActiveWindow(), pressMs);
        QCOMPARE(QGuiApplication::focusWindow(), panel.windowHandle());
        QTRY_VERIFY_WITH_TIMEOUT(xdotool({ QStringLiteral("getactivewindow") }, &active) == 0
                && active == QString::number(panel.winId()),
            pressMs);
        // The window manager was told the press's time as the panel's last user action.
        const quint32 panelWindow = quint32(panel.winId());
        const quint32 userTimeWindow = other.cardinal(panelWindow, "_NET_WM_USER_TIME_WINDOW");
        QCOMPARE(other.cardinal(userTimeWindow ? userTimeWindow : panelWindow, "_NET_WM_USER_TIME"), pressTime);
        // Typing goes to the panel now.
        QCOMPARE(xdotool({ QStringLiteral("type"), QStringLiteral("ok") }), 0);
        QTRY_COMPARE_WITH_TIMEOUT(field->text(), QStringLiteral("ok"), pressMs);
    }
};

int main(int argc, char **argv)
{
    // Without a display the xcb platform cannot start; the test then reports what is missing.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    X11GlobalHotkeysTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "X11GlobalHotkeysTest.moc"
