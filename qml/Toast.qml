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
        toast.open()
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

            Button {
                text: "Show"

                onClicked: {
                    notifier.stopSound()
                    toast.close()
                    toast.activated(toast.taskId)
                }
            }

            Button {
                text: "Dismiss"

                onClicked: {
                    notifier.stopSound()
                    toast.close()
                }
            }
        }
    }
}
