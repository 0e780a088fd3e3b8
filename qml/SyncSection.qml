import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The signed-in account's sync with a CalDAV server: the address and sign-in, the task list to
// sync with, "Sync now" and the status line. The password goes only to the host typed: another
// host the server points to is used only when the person says so. Nothing typed here outlives
// the account's session.
ColumnLayout {
    id: syncSection

    required property var sync
    required property bool signedIn

    function clearForm() {
        serverField.text = Qt.binding(() => syncSection.sync.serverUrl)
        userField.text = Qt.binding(() => syncSection.sync.userName)
        passwordField.text = ""
        newListField.text = ""
        insecureBox.checked = false
    }

    function useOtherServer() {
        serverField.text = syncSection.sync.otherServer
        syncSection.testConnection()
    }

    function testConnection() {
        syncSection.sync.testConnection(serverField.text, userField.text, passwordField.text,
                                        insecureBox.checked)
    }

    function syncNow() {
        if (syncSection.sync.needsPassword && passwordField.text.length > 0)
            syncSection.sync.providePassword(passwordField.text)
        else
            syncSection.sync.syncNow()
    }

    spacing: 6
    enabled: syncSection.signedIn

    onSignedInChanged: syncSection.clearForm()

    Label {
        Layout.topMargin: 16
        text: "Sync with a CalDAV server"
        font.pointSize: 14
    }

    TextField {
        id: serverField

        Layout.fillWidth: true
        placeholderText: "Server address"
        text: syncSection.sync.serverUrl
        inputMethodHints: Qt.ImhUrlCharactersOnly
        Accessible.name: "Server address"
    }

    RowLayout {
        Layout.fillWidth: true

        TextField {
            id: userField

            Layout.fillWidth: true
            placeholderText: "User name"
            text: syncSection.sync.userName
            Accessible.name: "User name"
        }

        PasswordField {
            id: passwordField

            Layout.fillWidth: true
            placeholderText: "Password"
            Accessible.name: "Password"

            onAccepted: syncSection.syncNow()
        }
    }

    CheckBox {
        id: insecureBox

        visible: syncSection.sync.needsInsecureConsent || insecureBox.checked
        text: "Send the password over plain HTTP to this server"
        Accessible.name: insecureBox.text
        // A screen reader's Press and Toggle tick the box as a click does (Qt 6.4 leaves Press
        // to the item).
        Accessible.onPressAction: insecureBox.toggle()
        Accessible.onToggleAction: insecureBox.toggle()
    }

    RowLayout {
        ActionButton {
            text: "Test connection"
            enabled: !syncSection.sync.busy && serverField.text.length > 0
                     && userField.text.length > 0
            Accessible.name: "Test connection"

            onClicked: syncSection.testConnection()
        }

        ActionButton {
            text: "Sync now"
            enabled: syncSection.sync.configured && !syncSection.sync.busy
            Accessible.name: "Sync now"

            onClicked: syncSection.syncNow()
        }

        Button {
            visible: syncSection.sync.otherServer.length > 0
            text: "Sign in at " + syncSection.sync.otherServer
            enabled: !syncSection.sync.busy
            Accessible.name: "Sign in at the other host"
            Accessible.description: syncSection.sync.otherServer

            onClicked: syncSection.useOtherServer()
        }

        BusyIndicator {
            Layout.preferredHeight: 28
            Layout.preferredWidth: 28
            running: syncSection.sync.busy
            visible: syncSection.sync.busy
        }
    }

    Label {
        Layout.fillWidth: true
        text: syncSection.sync.status
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        Accessible.role: Accessible.StaticText
        Accessible.name: syncSection.sync.status
        Accessible.description: "Sync status"
    }

    SyncDeletionPrompt {
        Layout.fillWidth: true
        sync: syncSection.sync
    }

    RowLayout {
        Layout.fillWidth: true
        visible: listBox.count > 0

        ComboBox {
            id: listBox

            Layout.fillWidth: true
            model: syncSection.sync.taskLists
            textRole: "name"
            valueRole: "url"
            Accessible.name: "Task list"
        }

        ActionButton {
            text: "Sync with this list"
            enabled: !syncSection.sync.busy
            Accessible.name: "Sync with this list"

            onClicked: syncSection.sync.useTaskList(listBox.currentValue)
        }
    }

    RowLayout {
        Layout.fillWidth: true
        visible: syncSection.sync.status.startsWith("Connected")

        TextField {
            id: newListField

            Layout.fillWidth: true
            placeholderText: "New task list"
            Accessible.name: "New task list"
        }

        ActionButton {
            text: "Create"
            enabled: !syncSection.sync.busy
            Accessible.name: "Create task list"

            onClicked: syncSection.sync.createTaskList(newListField.text)
        }
    }

    ActionButton {
        visible: syncSection.sync.configured
        text: "Stop syncing"
        Accessible.name: "Stop syncing"

        onClicked: syncSection.sync.stopSyncing()
    }
}
