// The program's modal message box: a standard QMessageBox with a single OK button and no icon,
// showing its text as plain text (texts may come from the network).
#pragma once

#include <QString>

// Owned by the program's active window, if it has one. Every other visible and enabled window
// is disabled while the box is open and exactly those are enabled again afterwards. Returns when
// the user has closed the box.
void ShowModalMessage(const QString &title, const QString &text);
