#include "library/NoteEditorModel.h"

#include "library/AppData.h"

#include <QCoro/QCoroSignal>

#include <optional>
#include <utility>

namespace oxle {

TimerDebounceScheduler::TimerDebounceScheduler()
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        // Move the callback out first: it may schedule again.
        auto callback = std::exchange(m_callback, {});
        if (callback)
            callback();
    });
}

void TimerDebounceScheduler::schedule(std::chrono::milliseconds delay, std::function<void()> callback)
{
    m_callback = std::move(callback);
    m_timer.start(delay);
}

void TimerDebounceScheduler::cancel()
{
    m_timer.stop();
    m_callback = {};
}

namespace detail {

// Sends one editor's writes one at a time. Shared with the running drain so that it outlives the editor.
class NoteWriter : public QObject
{
    Q_OBJECT
public:
    enum class Kind { Save, Delete };
    struct Request
    {
        Kind kind;
        QString title;
        QString body;
        std::function<void(bool)> done;
    };

    NoteWriter(AppData &data, Item note) : data(data), note(std::move(note)) {}

    // Queues a write behind the running one; a write still waiting is replaced, its texts are older.
    static quint64 enqueue(const std::shared_ptr<NoteWriter> &self, Request request)
    {
        const quint64 ticket = ++self->issued;
        self->next = std::move(request);
        self->nextTicket = ticket;
        if (!self->running) {
            // Detached: the task frees itself when the queue is empty.
            [[maybe_unused]] auto task = drain(self);
        }
        return ticket;
    }

    static QCoro::Task<void> drain(std::shared_ptr<NoteWriter> self)
    {
        self->running = true;
        for (;;) {
            std::optional<Request> next = std::exchange(self->next, std::nullopt);
            if (!next)
                break;
            Request request = std::move(*next);
            const quint64 ticket = self->nextTicket;
            bool ok = true;
            try {
                if (request.kind == Kind::Delete)
                    co_await self->data.remove(self->note);
                else
                    ok = co_await self->data.updateNote(self->note, request.title, request.body);
            } catch (...) {
                ok = false;
            }
            self->finishedTicket = ticket;
            self->finishedOk = ok;
            if (request.done)
                request.done(ok);
            Q_EMIT self->finished();
        }
        self->running = false;
    }

    AppData &data;
    const Item note;
    std::optional<Request> next;
    quint64 nextTicket = 0;
    quint64 issued = 0;
    quint64 finishedTicket = 0;
    bool finishedOk = true;
    bool running = false;

Q_SIGNALS:
    void finished();
};

} // namespace detail

using detail::NoteWriter;

NoteEditorModel::NoteEditorModel(AppData &data, Item note, std::unique_ptr<DebounceScheduler> scheduler,
                                 QObject *parent)
    : QObject(parent)
    , m_data(data)
    , m_note(std::move(note))
    , m_scheduler(scheduler ? std::move(scheduler) : std::make_unique<TimerDebounceScheduler>())
    , m_writer(std::make_shared<NoteWriter>(data, m_note))
    , m_title(m_note.title.value_or(QString()))
    , m_body(m_note.note.value_or(QString()))
{
    m_focusTitleOnOpen = m_title.isEmpty() && m_body.isEmpty();
}

// NOLINTNEXTLINE(bugprone-exception-escape): close() is a coroutine; what its body throws ends in the task.
NoteEditorModel::~NoteEditorModel()
{
    if (!m_closed) {
        // The write runs on without this editor; its outcome has nobody left to show it to.
        [[maybe_unused]] auto task = close();
    }
}

void NoteEditorModel::setTitle(const QString &title)
{
    if (m_closed || title == m_title)
        return;
    m_title = title;
    Q_EMIT titleChanged();
    changed();
}

void NoteEditorModel::setBody(const QString &body)
{
    if (m_closed || body == m_body)
        return;
    m_body = body;
    Q_EMIT bodyChanged();
    changed();
}

void NoteEditorModel::setStatus(const QString &status)
{
    if (m_status == status)
        return;
    m_status = status;
    Q_EMIT statusChanged();
}

void NoteEditorModel::changed()
{
    ++m_changeCount;
    setStatus(savingStatus);
    m_scheduler->schedule(saveDelay, [this] { saveNow(); });
}

void NoteEditorModel::saveNow()
{
    if (m_closed)
        return;
    const quint64 change = m_changeCount;
    QPointer<NoteEditorModel> self(this);
    NoteWriter::enqueue(m_writer, {NoteWriter::Kind::Save, m_title, m_body, [self, change](bool ok) {
                                   // Only the write of the latest texts speaks for the editor.
                                   if (!self || self->m_closed || self->m_changeCount != change)
                                       return;
                                   self->setStatus(ok ? savedStatus : failedStatus);
                               }});
}

QCoro::Task<bool> NoteEditorModel::close()
{
    if (m_closed)
        co_return true;
    m_closed = true;
    m_scheduler->cancel();

    // Keep the writer alive in this frame: the editor may be gone by the time the write completes.
    const std::shared_ptr<NoteWriter> writer = m_writer;
    const bool blank = m_title.trimmed().isEmpty() && m_body.trimmed().isEmpty();
    const quint64 ticket =
        NoteWriter::enqueue(writer, {blank ? NoteWriter::Kind::Delete : NoteWriter::Kind::Save, m_title, m_body, {}});
    // From here on `this` may be destroyed; only locals are touched.
    while (writer->finishedTicket < ticket)
        co_await qCoro(writer.get(), &NoteWriter::finished);
    co_return writer->finishedOk;
}

} // namespace oxle

#include "NoteEditorModel.moc"
