import QtQuick
import QtQuick.Controls

// Asks before every Done task of the account is deleted.
Dialog {
    id: confirmDeleteInactive

    objectName: "confirmDeleteInactive"
    anchors.centerIn: parent
    modal: true
    title: "Confirm deletion"

    onAccepted: taskService.deleteAllInactive()

    // Declared rather than standard buttons: with a screen reader attached, Qt 6.4 crashes at
    // exit while it deletes a dialog's standard buttons.
    footer: DialogButtonBox {
        ActionButton {
            text: "Yes"

            DialogButtonBox.buttonRole: Dialog.YesRole
        }

        ActionButton {
            text: "No"

            DialogButtonBox.buttonRole: Dialog.NoRole
        }
    }

    Label {
        text: "Delete ALL tasks Done?\nThis action cannot be undone."
        color: Theme.text
        padding: 10
    }
}
