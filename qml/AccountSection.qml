import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts

// The signed-in account: its password changed, or the account deleted with all its tasks.
ColumnLayout {
    id: accountSection

    // The accounts (auth), the deletion of one (accountRemoval) and the export (taskTransfer).
    required property var identity
    required property var removal
    required property var transfer

    // The account is gone and signed out.
    signal accountDeleted()

    // Every opening starts with empty fields.
    function clear() {
        for (const field of [currentField, newField, repeatField, deletePasswordField])
            field.text = ""
        passwordNote.text = ""
        deleteNote.text = ""
    }

    function changePassword() {
        const problem = accountSection.identity.changePassword(currentField.text, newField.text, repeatField.text)
        passwordNote.color = problem === "" ? Theme.success : Theme.error
        passwordNote.text = problem === "" ? "The password is changed." : problem
        if (problem === "") {
            currentField.text = ""
            newField.text = ""
            repeatField.text = ""
        }
    }

    function deleteAccount() {
        const problem = accountSection.removal.deleteAccount(deletePasswordField.text)
        deletePasswordField.text = ""
        deleteNote.text = problem
        if (problem === "")
            accountSection.accountDeleted()
    }

    spacing: 10

    Label {
        text: "Change password"
        font.pointSize: 14
    }

    PasswordField {
        id: currentField

        objectName: "currentPassword"
        Layout.fillWidth: true
        placeholderText: "Current password"
        Accessible.name: placeholderText
    }

    PasswordField {
        id: newField

        objectName: "newPassword"
        Layout.fillWidth: true
        placeholderText: "New password (min 8 chars)"
        Accessible.name: placeholderText
    }

    PasswordField {
        id: repeatField

        objectName: "repeatPassword"
        Layout.fillWidth: true
        placeholderText: "Confirm new password"
        Accessible.name: placeholderText
    }

    RowLayout {
        Layout.fillWidth: true

        StatusLabel {
            id: passwordNote

            Layout.fillWidth: true
            wrapMode: Text.Wrap
        }

        ActionButton {
            objectName: "changePassword"
            text: "Change password"
            enabled: currentField.text !== "" && newField.text !== ""

            onClicked: accountSection.changePassword()
        }
    }

    Label {
        Layout.fillWidth: true
        text: "The password of the sync is kept apart and stays as it is."
        color: Theme.quietText
        wrapMode: Text.WordWrap
    }

    Label {
        Layout.topMargin: 16
        text: "Delete account"
        font.pointSize: 14
    }

    Label {
        Layout.fillWidth: true
        text: "Deleting the account deletes all its tasks and its sync settings for good; the "
              + "tasks on a sync server stay there. Export the tasks first to keep a copy that "
              + "can be imported into another account."
        wrapMode: Text.WordWrap
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10

        PasswordField {
            id: deletePasswordField

            objectName: "deletePassword"
            Layout.fillWidth: true
            placeholderText: "Password"
            Accessible.name: "Password of the account to delete"
        }

        ActionButton {
            text: "Export my tasks first"

            onClicked: backupDialog.open()
        }

        ActionButton {
            objectName: "deleteAccount"
            text: "Delete account"
            enabled: deletePasswordField.text !== ""

            onClicked: confirmDelete.open()
        }
    }

    StatusLabel {
        id: deleteNote

        Layout.fillWidth: true
        color: Theme.error
        wrapMode: Text.Wrap
    }

    Label {
        Layout.fillWidth: true
        text: accountSection.transfer.resultText
        textFormat: Text.PlainText
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
    }

    // iCalendar only: the one form an import reads back.
    FileDialog {
        id: backupDialog

        title: "Export my tasks"
        fileMode: FileDialog.SaveFile
        acceptLabel: "Save"
        nameFilters: ["iCalendar (*.ics)"]

        onAccepted: accountSection.transfer.exportTasks(String(backupDialog.selectedFile))
    }

    Dialog {
        id: confirmDelete

        objectName: "confirmDeleteAccount"
        anchors.centerIn: Overlay.overlay
        modal: true
        title: "Delete account"

        onAccepted: accountSection.deleteAccount()

        footer: DialogButtonBox {
            ActionButton {
                text: "Delete"

                DialogButtonBox.buttonRole: Dialog.AcceptRole
            }

            ActionButton {
                text: "Cancel"

                DialogButtonBox.buttonRole: Dialog.RejectRole
            }
        }

        Label {
            text: "Delete this account and all its tasks for good?"
            color: Theme.text
            padding: 10
        }
    }
}
