// The baseline for `oxle add`: a Qt process that sends one HTTP request to OXLE_BACKEND_URL and exits when the
// answer has arrived.
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QNetworkAccessManager network;
    const QUrl url(qEnvironmentVariable("OXLE_BACKEND_URL") + QStringLiteral("/rest/v1/items"));
    QNetworkReply *reply = network.get(QNetworkRequest(url));
    QObject::connect(reply, &QNetworkReply::finished, &app, &QCoreApplication::quit);
    return app.exec();
}
