#include "opendialogs.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QVariant>

namespace OpenDialogs {

namespace {

// Popups and dialogs of Qt Quick Controls, and the dialogs of Qt Quick Dialogs (file, folder,
// font, colour, message), whatever draws them.
bool isDialog(const QObject *object)
{
    return object->inherits("QQuickPopup") || object->inherits("QQuickAbstractDialog");
}

QList<QPointer<QObject>> openDialogs(const QList<QObject *> &windows)
{
    QList<QPointer<QObject>> open;
    for (QObject *window : windows) {
        if (!window)
            continue;
        const QList<QObject *> descendants = window->findChildren<QObject *>();
        for (QObject *object : descendants) {
            if (isDialog(object) && object->property("visible").toBool())
                open << object;
        }
    }
    return open;
}

// Deleted as it stands, a dialog of Qt Quick Dialogs deletes its file list's rows and its
// buttons after the items that hold them, and each tells the screen reader that it hides. With
// the list emptied and every item hidden first, nothing changes as it goes.
void deleteQuietly(QObject *dialog)
{
    const QList<QObject *> parts = dialog->findChildren<QObject *>();
    for (QObject *part : parts) {
        if (part->inherits("QQuickItemView"))
            part->setProperty("model", QVariant());
    }
    const QList<QObject *> items = dialog->findChildren<QObject *>();
    for (QObject *item : items) {
        if (item->inherits("QQuickItem"))
            item->setProperty("visible", false);
    }
    delete dialog;
}

} // namespace

void closeAll(const QList<QObject *> &windows)
{
    for (const QPointer<QObject> &dialog : openDialogs(windows)) {
        if (dialog)
            QMetaObject::invokeMethod(dialog, "close");
    }
    // A popup closes through its exit transition.
    const QDeadlineTimer deadline(1000);
    while (!openDialogs(windows).isEmpty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    // A popup the window holds as a child of its own rather than through a document is a dialog
    // Qt Quick Dialogs drew in the window for a FileDialog, open or not.
    for (QObject *window : windows) {
        if (!window)
            continue;
        const QList<QObject *> children =
                window->findChildren<QObject *>(Qt::FindDirectChildrenOnly);
        for (QObject *child : children) {
            if (child->inherits("QQuickPopup"))
                deleteQuietly(child);
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace OpenDialogs
