import QtQuick
import QtQuick.Controls

// Asks before every Done task of the account is deleted.
Dialog {
    id: confirmDeleteInactive

    objectName: "confirmDeleteInactive"
    anchors.centerIn: parent
    modal: true
    title: "Confirm deletion"
    standardButtons: Dialog.Yes | Dialog.No

    onAccepted: taskService.deleteAllInactive()

    Label {
        text: "Delete ALL tasks Done?\nThis action cannot be undone."
        color: Theme.text
        padding: 10
    }
}
