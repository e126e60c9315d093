// Opening a folder, a help page or a web address with the desktop's own handler (xdg-open). When
// the handler cannot be started, or ends in failure (no program takes that kind of file, or the
// one chosen gave up), the user is told so with the path, over the active window: otherwise a
// click on Open Folder or Help > Contents would simply do nothing.
#pragma once

#include <QString>

#include <functional>

namespace lumivex {

// Opens `address` (a file:// address or a web address) with the handler program. When it fails,
// `otherwise` is called instead of telling the user, where given.
void OpenWithDesktop(const QString& address, std::function<void()> otherwise = {});
// The handler program, given the path or address as its one argument: "xdg-open" unless set.
void SetDesktopHandler(const QString& program);

}  // namespace lumivex
