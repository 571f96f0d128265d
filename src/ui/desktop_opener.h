#pragma once
// Opening folders, files and web addresses with the desktop's own programs. One seam for the
// whole program, so that tests see what would have been opened.

#include <QUrl>

#include <functional>

using DesktopOpener = std::function<void(const QUrl&)>;

void OpenWithDesktop(const QUrl& url);
// nullptr restores the desktop.
void SetDesktopOpenerForTesting(DesktopOpener opener);
