import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts

// Changes are written to the settings the moment they are made; OK and Cancel only close.
Dialog {
    id: settingsDialog

    anchors.centerIn: parent
    modal: true
    title: "Settings"

    // Declared rather than standard buttons: with a screen reader attached, Qt 6.4 crashes at
    // exit while it deletes a dialog's standard buttons.
    footer: DialogButtonBox {
        ActionButton {
            text: "OK"

            DialogButtonBox.buttonRole: Dialog.AcceptRole
        }

        ActionButton {
            text: "Cancel"

            DialogButtonBox.buttonRole: Dialog.RejectRole
        }
    }

    onAboutToShow: taskTransfer.clearResult()

    ColumnLayout {
        width: 360
        spacing: 10

        Label {
            text: "Notifications"
            font.pointSize: 14
        }

        RowLayout {
            SpinBox {
                id: minutesBox

                from: 1
                to: 1440
                stepSize: 1
                editable: true
                value: settings.notifyMinutes

                onValueModified: settings.notifyMinutes = minutesBox.value
            }

            Label {
                text: "Minutes before task expiration"
            }
        }

        ActionButton {
            text: "Choose sound (WAV/MP3)"

            onClicked: soundFileDialog.open()
        }

        Label {
            Layout.fillWidth: true
            text: settings.soundFile
            textFormat: Text.PlainText
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        }

        Label {
            Layout.topMargin: 16
            text: "Shortcuts task table"
            font.pointSize: 14
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            Label {
                text: "ctrl+f: search"
            }

            Label {
                text: "ctrl+n: new"
            }

            Label {
                text: "ctrl+e: edit"
            }

            Label {
                text: "delete: delete"
            }

            Label {
                text: "ctrl+l: logout"
            }

            Label {
                text: "home: first page"
            }

            Label {
                text: "end: last page"
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            Label {
                text: "up arrow: previous task"
            }

            Label {
                text: "down arrow: next task"
            }

            Label {
                text: "right arrow: next page"
            }

            Label {
                text: "left arrow: previous page"
            }
        }

        Label {
            text: "Shortcuts task form"
            font.pointSize: 14
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            Label {
                text: "return: save"
            }

            Label {
                text: "esc: taks/calendar dialog"
            }

            Label {
                text: "ctrl+d: toggle done"
            }

            Label {
                text: "ctrl+g: pick date & time"
            }

            Label {
                text: "arrows: change calendar day"
            }
        }

        RowLayout {
            Label {
                text: "ctrl+up/down: change calendar hour"
            }

            Label {
                text: "ctrl+right/left: change calendar minute"
            }

            Label {
                text: "ctrl+shift+s/d: show/dismiss reminder"
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 16
            spacing: 10

            Label {
                text: "Database path:"
                font.pointSize: 12
                wrapMode: Text.WrapAtWordBoundaryOrAnywhere
            }

            TaskTransferRow {
                Layout.fillWidth: true
                transfer: taskTransfer
            }
        }

        Label {
            Layout.fillWidth: true
            text: dbPath
            textFormat: Text.PlainText
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        }
    }

    FileDialog {
        id: soundFileDialog

        fileMode: FileDialog.OpenFile

        onAccepted: settings.soundFile = soundFileDialog.selectedFile.toString()
    }
}
