#include "app/AccountStack.h"

#include <QTextStream>

namespace oxle {

namespace {

// Without a browser to open, the address is printed for the user to open elsewhere.
void printSignInAddress(const QUrl &url)
{
    QTextStream out(stdout);
    out << "Open this address in your browser to sign in:\n" << url.toString(QUrl::FullyEncoded) << '\n';
}

} // namespace

AccountStack::AccountStack()
    : browser(&platform::openUrl, &printSignInAddress)
{
    server.setHandler([this](InstanceRequest request, QPointer<QLocalSocket> asker) {
        return service.handle(std::move(request), std::move(asker));
    });
}

} // namespace oxle
