#include <QTest>
class BackendEnrichmentTest : public QObject
{
    Q_OBJECT
};
QTEST_GUILESS_MAIN(BackendEnrichmentTest)
#include "BackendEnrichmentTest.moc"
