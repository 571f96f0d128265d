#include "ui/desktop_opener.h"

#include <QDesktopServices>

namespace {

DesktopOpener& Current() {
    static DesktopOpener opener;
    return opener;
}

}  // namespace

void OpenWithDesktop(const QUrl& url) {
    if (Current())
        Current()(url);
    else
        QDesktopServices::openUrl(url);
}

void SetDesktopOpenerForTesting(DesktopOpener opener) {
    Current() = std::move(opener);
}
