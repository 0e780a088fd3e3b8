#pragma once

#include <QList>

class QObject;

// The dialogs of the window, taken down before the window and its QML engine go.
namespace OpenDialogs {

// Closes every dialog and popup still open among the windows' descendants, as Escape would, and
// then deletes the file dialogs Qt Quick Dialogs drew in the windows. Left to the engine, such
// a dialog goes with the window, and with a screen reader listening Qt crashes while it takes
// the dialog's items apart.
void closeAll(const QList<QObject *> &windows);

} // namespace OpenDialogs
