#include <QTest>
class LibraryBackendTest : public QObject
{
    Q_OBJECT
};
QTEST_GUILESS_MAIN(LibraryBackendTest)
#include "LibraryBackendTest.moc"
