#include <QTest>
class BackendAuthTest : public QObject
{
    Q_OBJECT
};
QTEST_GUILESS_MAIN(BackendAuthTest)
#include "BackendAuthTest.moc"
