#include <QTest>
class BackendSqlSecurityTest : public QObject
{
    Q_OBJECT
};
QTEST_GUILESS_MAIN(BackendSqlSecurityTest)
#include "BackendSqlSecurityTest.moc"
