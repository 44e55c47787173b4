#pragma once

// A window manager for the tests that need one on the X server of scripts/lib/session-services: without one
// nothing is "active" and nothing prevents focus stealing. It takes over from one an earlier test may have
// left behind, is started again should it leave early, and ends with this object.

#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>

namespace oxle::test {

class TestWindowManager
{
public:
    TestWindowManager() = default;
    TestWindowManager(const TestWindowManager &) = delete;
    TestWindowManager &operator=(const TestWindowManager &) = delete;
    ~TestWindowManager() { stop(); }

    // True once a window manager answers on the display.
    bool start(int timeoutMs = 20'000)
    {
        m_process.setProgram(QStringLiteral("openbox"));
        m_process.setArguments({QStringLiteral("--sm-disable"), QStringLiteral("--replace")});
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (m_process.state() == QProcess::NotRunning)
                m_process.start();
            if (answers() && m_process.state() == QProcess::Running)
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    static bool answers()
    {
        QProcess probe;
        probe.start(QStringLiteral("xdotool"), {QStringLiteral("get_desktop")});
        return probe.waitForFinished(3000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
    }

    QProcess m_process;
};

} // namespace oxle::test
