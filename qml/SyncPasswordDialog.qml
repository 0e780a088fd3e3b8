import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Asks for the password of the CalDAV account when no secret service keeps it: once as the
// account signs in, and again whenever the person asks through the sync indicator.
Dialog {
    id: passwordDialog

    required property var sync

    objectName: "syncPasswordDialog"
    anchors.centerIn: parent
    modal: true
    title: "Password to sync"

    // Declared rather than standard buttons: with a screen reader attached, Qt 6.4 crashes at
    // exit while it deletes a dialog's standard buttons.
    footer: DialogButtonBox {
        ActionButton {
            text: "Sync"

            DialogButtonBox.buttonRole: Dialog.AcceptRole
        }

        ActionButton {
            text: "Not now"

            DialogButtonBox.buttonRole: Dialog.RejectRole
        }
    }

    onAboutToShow: passwordField.text = ""
    onOpened: passwordField.forceActiveFocus()
    onAccepted: {
        if (passwordField.text.length > 0)
            passwordDialog.sync.providePassword(passwordField.text)
        passwordField.text = ""
    }
    onRejected: passwordField.text = ""

    ColumnLayout {
        anchors.fill: parent
        spacing: 8

        Label {
            Layout.fillWidth: true
            Layout.maximumWidth: 420
            text: "Enter the password of " + passwordDialog.sync.userName + " at "
                  + passwordDialog.sync.serverUrl + " to sync your tasks."
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
        }

        TextField {
            id: passwordField

            Layout.fillWidth: true
            placeholderText: "Password"
            echoMode: TextInput.Password

            Accessible.name: "Password"
            onAccepted: passwordDialog.accept()
        }
    }
}
