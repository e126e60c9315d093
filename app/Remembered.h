// What the windows remember from one start to the next: the last choices of the export dialog,
// the send panel and the review, and their sizes. Kept with QSettings in the user's configuration
// folder ($XDG_CONFIG_HOME/lumivex/windows.conf). Never a password: those go to the keyring.
#pragma once

#include <QSettings>

#include <memory>

class QWidget;

namespace lumivex {

std::unique_ptr<QSettings> Remembered();
// The window's size as last left, within the screen's room; `group` names the window.
void RestoreSize(QWidget* window, const QString& group);
void RememberSize(const QWidget* window, const QString& group);

}  // namespace lumivex
