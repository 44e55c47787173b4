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
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
        const QString path = dir.path() + QStringLiteral("/oxle/oxle.ini");

        UserDefaults defaults;
        QCOMPARE(defaults.filePath(), path);
        QCOMPARE(defaults.deliverRemindersOnThisMac(), false);
        QVERIFY(!QFile::exists(path)); // reading writes nothing

        defaults.setDeliverRemindersOnThisMac(true);
        QCOMPARE(UserDefaults().deliverRemindersOnThisMac(), true); // another instance, as after a restart

        // A change written elsewhere (the settings window's own instance) is seen at the next read.
        UserDefaults().setDeliverRemindersOnThisMac(false);
        QCOMPARE(defaults.deliverRemindersOnThisMac(), false);
    }
};

QTEST_GUILESS_MAIN(UserDefaultsTest)
#include "UserDefaultsTest.moc"
