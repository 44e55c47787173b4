#pragma once

// The note editor without its widgets: the title and body being edited, the status line, and the autosave
// protocol. Every change restarts a 0.6 s pause; when it runs out the current texts are written. Closing the
// editor cancels the pause and writes at once, or deletes the note when title and body are both blank.
//
// Writes of one editor are sent one at a time, in order, and a queued write is dropped when a newer one is
// queued behind it, so an older text can never land after a newer one. A write that is still running when the
// editor is destroyed completes on its own; the store outlives every editor.
//
// Status: "Saving…" from a change until the write of the latest texts completes, then "Saved", or
// failedStatus when that write failed. A failed write is retried by the next change or by the close.

#include "core/Records.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>

namespace oxle {

class AppData;

namespace detail {
class NoteWriter;
}

// Runs one callback after a delay; scheduling again replaces the pending one. Tests fire it by hand.
class DebounceScheduler
{
public:
    virtual ~DebounceScheduler() = default;
    virtual void schedule(std::chrono::milliseconds delay, std::function<void()> callback) = 0;
    virtual void cancel() = 0;
    virtual bool isPending() const = 0;
};

// The real one: a single-shot QTimer on the current thread's event loop.
class TimerDebounceScheduler : public DebounceScheduler
{
public:
    TimerDebounceScheduler();
    void schedule(std::chrono::milliseconds delay, std::function<void()> callback) override;
    void cancel() override;
    bool isPending() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
    std::function<void()> m_callback;
};

class NoteEditorModel : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds saveDelay{600};
    static inline const QString savingStatus = QStringLiteral("Saving\u2026");
    static inline const QString savedStatus = QStringLiteral("Saved");
    static inline const QString failedStatus = QStringLiteral("Not saved. Will retry.");

    // Opens the editor on `note`. Without a scheduler a TimerDebounceScheduler is used.
    NoteEditorModel(AppData &data, Item note, std::unique_ptr<DebounceScheduler> scheduler = {},
                    QObject *parent = nullptr);
    // Closes the editor if the view did not, so the last keystrokes are never lost.
    ~NoteEditorModel() override; // NOLINT(bugprone-exception-escape): see the definition

    const Item &note() const { return m_note; }
    const QString &title() const { return m_title; }
    const QString &body() const { return m_body; }
    const QString &status() const { return m_status; }
    // True when the editor opened on a note without title and body: the title field takes the focus.
    bool focusTitleOnOpen() const { return m_focusTitleOnOpen; }
    bool hasPendingSave() const { return m_scheduler->isPending(); }
    bool isClosed() const { return m_closed; }

    // Each call with a different text is a change (typing). Ignored after close().
    void setTitle(const QString &title);
    void setBody(const QString &body);

    // The editor disappears: cancels the pending save, then deletes a blank note or writes the current texts
    // at once. Answers whether that write succeeded (a delete always answers true: the store ignores its
    // failure and shows the note again on the next load). Calling it again does nothing and answers true.
    QCoro::Task<bool> close();

Q_SIGNALS:
    void titleChanged();
    void bodyChanged();
    void statusChanged();

private:
    void changed();
    void setStatus(const QString &status);
    void saveNow();

    AppData &m_data;
    Item m_note;
    std::unique_ptr<DebounceScheduler> m_scheduler;
    std::shared_ptr<detail::NoteWriter> m_writer;
    QString m_title;
    QString m_body;
    QString m_status;
    quint64 m_changeCount = 0;
    bool m_focusTitleOnOpen = false;
    bool m_closed = false;
};

} // namespace oxle
