// The note editor's autosave with a hand-fired debounce: one save per pause, the close rule, deletion of a
// blank note, and a failed save that must not read "Saved".

#include "StoreFixture.h"

#include "library/NoteEditorModel.h"
#include "support/CoroTest.h"

#include <QTest>

using namespace oxle;
using namespace oxle::test;

namespace {

class ManualScheduler : public DebounceScheduler
{
public:
    void schedule(std::chrono::milliseconds delay, std::function<void()> callback) override
    {
        lastDelay = delay;
        m_callback = std::move(callback);
    }
    void cancel() override { m_callback = {}; }
    bool isPending() const override { return bool(m_callback); }
    // The pause ran out.
    void fire()
    {
        if (auto callback = std::exchange(m_callback, {}))
            callback();
    }

    std::chrono::milliseconds lastDelay{0};

private:
    std::function<void()> m_callback;
};

} // namespace

class NoteEditorModelTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> f;
    ManualScheduler *scheduler = nullptr;
    int patchStatus = 204;

    std::unique_ptr<NoteEditorModel> open(const std::optional<QString> &title = {},
                                          const std::optional<QString> &body = {})
    {
        auto owned = std::make_unique<ManualScheduler>();
        scheduler = owned.get();
        const Item note{"n1", "", title, body, {}, "note", QString("sb_user-1"), "queued", 1, {}, {}};
        return std::make_unique<NoteEditorModel>(*f->data, note, std::move(owned));
    }
    QList<QJsonObject> patches() const
    {
        QList<QJsonObject> bodies;
        for (const RecordedRequest &r : f->requests())
            if (r.method == "PATCH")
                bodies.append(bodyOf(r));
        return bodies;
    }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<StoreFixture>();
        patchStatus = 204;
        f->server->setHandler([this](const RecordedRequest &r) {
            if (r.method == "PATCH")
                return CannedResponse::json(patchStatus, patchStatus < 300 ? "" : "{\"message\":\"down\"}");
            return CannedResponse::json(200, "[]");
        });
        f->signIn();
    }
    void cleanup() { f.reset(); }

    void aBurstOfTypingSavesOnceAfterThePause()
    {
        auto editor = open();
        for (const char *text : {"a", "ab", "abc"})
            editor->setBody(text);
        QCOMPARE(editor->status(), QStringLiteral("Saving\u2026"));
        QCOMPARE(scheduler->lastDelay, std::chrono::milliseconds(600));
        QTest::qWait(20);
        QCOMPARE(f->requests().size(), 0);

        scheduler->fire();
        QTRY_COMPARE(editor->status(), QStringLiteral("Saved"));
        QCOMPARE(patches(), (QList<QJsonObject>{{{"title", ""}, {"note", "abc"}, {"updated_at", fixedNow}}}));
        QCOMPARE(f->requests().constLast().queryValue("content_type"), QStringLiteral("eq.note")); // notes reloaded
    }

    void closeSavesAtOnceAndCancelsThePendingSave()
    {
        auto editor = open(QStringLiteral("Title"), QStringLiteral("x"));
        editor->setBody("x y ");
        QVERIFY(editor->hasPendingSave());
        QVERIFY(run(editor->close()));
        QVERIFY(!editor->hasPendingSave());
        scheduler->fire(); // the cancelled pause has nothing left to run
        editor->setBody("ignored after close");
        QTest::qWait(20);
        // Untrimmed, with the title the note was opened with.
        QCOMPARE(patches(), (QList<QJsonObject>{{{"title", "Title"}, {"note", "x y "}, {"updated_at", fixedNow}}}));
    }

    void aBlankNoteIsDeletedOnClose()
    {
        auto editor = open();
        editor->setTitle("  ");
        editor->setBody(" \n\t\n");
        QVERIFY(run(editor->close()));
        QCOMPARE(patches(), (QList<QJsonObject>{{{"deleted_at", fixedNow}, {"updated_at", fixedNow}}}));
    }

    void aFailedSaveIsNotShownAsSavedAndIsRetried()
    {
        auto editor = open();
        patchStatus = 500;
        editor->setBody("draft");
        scheduler->fire();
        QTRY_COMPARE(editor->status(), QStringLiteral("Not saved. Will retry."));

        patchStatus = 204;
        editor->setBody("draft 2");
        QCOMPARE(editor->status(), QStringLiteral("Saving\u2026"));
        scheduler->fire();
        QTRY_COMPARE(editor->status(), QStringLiteral("Saved"));
        QCOMPARE(patches().size(), 2);

        patchStatus = 500;
        editor->setBody("draft 3");
        QVERIFY(!run(editor->close())); // the final write's failure reaches the caller
    }

    void aSaveInFlightIsFollowedByTheLatestTexts()
    {
        auto editor = open();
        editor->setBody("one");
        scheduler->fire(); // the write of "one" is on its way
        editor->setBody("two");
        QVERIFY(run(editor->close()));
        QCOMPARE(patches().size(), 2);
        QCOMPARE(patches().constLast()["note"].toString(), QStringLiteral("two"));
    }

    void destroyingAnOpenEditorStillSaves()
    {
        auto editor = open();
        editor->setBody("last words");
        editor.reset();
        QTRY_COMPARE(patches().size(), 1);
        QCOMPARE(patches()[0]["note"].toString(), QStringLiteral("last words"));
    }
};

QTEST_GUILESS_MAIN(NoteEditorModelTest)
#include "NoteEditorModelTest.moc"
