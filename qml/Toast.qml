import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One notice in the reminder corner: the reminder of a task, with its own actions, or the notice
// of tasks missed while nobody watched (Show and Dismiss only).
Rectangle {
    id: toast

    // Task ids are numbers: exact up to 2^53, far beyond 32 bits.
    property double taskId: -1
    property string message: ""
    property string subMessage: ""
    property bool reminder: true

    signal showRequested
    signal doneRequested
    signal snoozeRequested(string choice)
    signal dismissRequested

    // Keyboard access: the reminders never take the focus by themselves.
    function focusFirst() {
        showButton.forceActiveFocus(Qt.ShortcutFocusReason)
    }

    width: 360
    implicitHeight: column.implicitHeight + 24
    radius: 1
    color: "#202020"
    border.color: "#721675"

    Accessible.role: Accessible.Notification
    Accessible.name: toast.message
    Accessible.description: toast.subMessage

    ColumnLayout {
        id: column

        anchors.fill: parent
        anchors.margins: 12
        spacing: 6

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
            spacing: 6

            Item {
                Layout.fillWidth: true
            }

            ActionButton {
                id: showButton

                text: "Show"
                Accessible.name: "Show " + toast.message

                onClicked: toast.showRequested()
            }

            ActionButton {
                visible: toast.reminder
                text: "Done"
                Accessible.name: "Mark done: " + toast.message

                onClicked: toast.doneRequested()
            }

            ActionButton {
                id: snoozeButton

                visible: toast.reminder
                text: "Snooze"
                Accessible.name: "Snooze " + toast.message

                onClicked: snoozeMenu.popup(snoozeButton, 0, snoozeButton.height)
            }

            ActionButton {
                text: "Dismiss"
                Accessible.name: "Dismiss " + toast.message

                onClicked: toast.dismissRequested()
            }
        }
    }

    Menu {
        id: snoozeMenu

        MenuItem {
            text: "10 minutes"
            onTriggered: toast.snoozeRequested("10m")
        }

        MenuItem {
            text: "1 hour"
            onTriggered: toast.snoozeRequested("1h")
        }

        MenuItem {
            text: "Tomorrow at 09:00"
            onTriggered: toast.snoozeRequested("tomorrow")
        }
    }
}
