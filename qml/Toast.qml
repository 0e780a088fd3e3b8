import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Popup {
    id: toast

    // Task ids are numbers: exact up to 2^53, far beyond 32 bits.
    property double taskId: -1
    property string message: ""
    property string subMessage: ""

    signal activated(double taskId)

    function showToast(taskId, msg, sub) {
        toast.taskId = taskId
        toast.message = msg
        toast.subMessage = sub
        if (toast.opened) {
            // A screen reader announces a notification as it shows: show the new one anew.
            toast.contentItem.visible = false
            toast.contentItem.visible = true
        }
        toast.open()
    }

    function show() {
        notifier.stopSound()
        toast.close()
        toast.activated(toast.taskId)
    }

    function dismiss() {
        notifier.stopSound()
        toast.close()
    }

    // The bottom-right corner keeps 20 px from the bottom-right corner of the parent.
    x: toast.parent ? toast.parent.width - toast.width - 20 : 20
    y: toast.parent ? toast.parent.height - toast.height - 20 : 20
    width: 360
    padding: 12
    modal: false
    focus: false
    closePolicy: Popup.NoAutoClose

    background: Rectangle {
        radius: 1
        color: "#202020"
        border.color: "#721675"
    }

    contentItem: ColumnLayout {
        spacing: 6

        Accessible.role: Accessible.Notification
        Accessible.name: toast.message
        Accessible.description: toast.subMessage

        Label {
            Layout.fillWidth: true
            text: toast.message
            textFormat: Text.PlainText
            color: "white"
            font.pixelSize: 14
            wrapMode: Text.WordWrap
        }

        Label {
            Layout.fillWidth: true
            visible: toast.subMessage !== ""
            text: toast.subMessage
            textFormat: Text.PlainText
            color: "#cfcfcf"
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            Item {
                Layout.fillWidth: true
            }

            ActionButton {
                text: "Show"

                onClicked: toast.show()
            }

            ActionButton {
                text: "Dismiss"

                onClicked: toast.dismiss()
            }
        }
    }

    // The toast never takes the focus, so its buttons have keys that work wherever it is.
    Shortcut {
        sequence: "Ctrl+Shift+S"
        context: Qt.ApplicationShortcut
        enabled: toast.opened
        onActivated: toast.show()
    }

    Shortcut {
        sequence: "Ctrl+Shift+D"
        context: Qt.ApplicationShortcut
        enabled: toast.opened
        onActivated: toast.dismiss()
    }
}
