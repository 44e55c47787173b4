#include "reminders/UserDefaults.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace oxle;

class UserDefaultsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void deliverRemindersIsOffUntilSwitchedOn()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("nested/oxle.ini"));

        UserDefaults defaults(path);
        QCOMPARE(defaults.deliverRemindersOnThisMac(), false);
        QVERIFY(!QFile::exists(path)); // reading writes nothing

        defaults.setDeliverRemindersOnThisMac(true);
        QVERIFY(QFile::exists(path));
        QCOMPARE(UserDefaults(path).deliverRemindersOnThisMac(), true); // another instance, as after a restart

        // A change written elsewhere (the settings window's own instance) is seen at the next read.
        UserDefaults(path).setDeliverRemindersOnThisMac(false);
        QCOMPARE(defaults.deliverRemindersOnThisMac(), false);
    }

    void standardFileFollowsXdgConfigHome()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));

        UserDefaults defaults;
        defaults.setDeliverRemindersOnThisMac(true);
        const QString expected = dir.path() + QStringLiteral("/oxle/oxle.ini");
        QCOMPARE(defaults.filePath(), expected);
        QFile file(expected);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("deliverRemindersOnThisMac=true"));

        if (saved.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", saved);
    }
};

QTEST_GUILESS_MAIN(UserDefaultsTest)
#include "UserDefaultsTest.moc"
