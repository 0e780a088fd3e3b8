import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts

// Changes are written to the settings the moment they are made; OK and Cancel only close.
Dialog {
    id: settingsDialog

    anchors.centerIn: parent
    margins: 0
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

    onAboutToShow: {
        taskTransfer.clearResult()
        desktop.refreshTray()
    }

    // Scrolls when the window is too low for every section.
    ScrollView {
        id: scroller

        anchors.fill: parent
        contentWidth: scroller.availableWidth
        implicitWidth: content.implicitWidth
        implicitHeight: content.implicitHeight
        clip: true

        ColumnLayout {
            id: content

            width: 360
            spacing: 10

            Label {
                text: "Notifications"
                font.pointSize: 14
            }

            // The reminder settings on the left, running in the background beside them.
            RowLayout {
                spacing: 24

                ColumnLayout {
                    Layout.alignment: Qt.AlignTop
                    spacing: 10

                    RowLayout {
                        SpinBox {
                            id: minutesBox

                            from: 1
                            to: 1440
                            stepSize: 1
                            editable: true
                            value: settings.notifyMinutes

                            Accessible.name: "Minutes before task expiration"
                            onValueModified: settings.notifyMinutes = minutesBox.value
                        }

                        Label {
                            text: "Minutes before task expiration"
                        }
                    }

                    Row {
                        spacing: 6

                        ActionButton {
                            text: "Choose sound (WAV/MP3)"

                            onClicked: soundFileDialog.open()
                        }

                        ActionButton {
                            text: "Test"
                            enabled: settings.soundFile !== ""
                            Accessible.name: "Test the reminder sound"

                            onClicked: notifier.testSound()
                        }

                        ActionButton {
                            text: "No sound"
                            enabled: settings.soundFile !== ""

                            onClicked: {
                                notifier.stopSound()
                                settings.soundFile = ""
                            }
                        }
                    }

                    Label {
                        Layout.fillWidth: true
                        text: settings.soundFile
                        textFormat: Text.PlainText
                        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                    }
                }

                ColumnLayout {
                    Layout.alignment: Qt.AlignTop
                    spacing: 4

                    CheckBox {
                        id: backgroundBox

                        Layout.fillWidth: true
                        text: "Keep running in the background when the window is closed"
                        enabled: desktop.trayAvailable
                        checked: desktop.keepRunningInBackground

                        onToggled: desktop.keepRunningInBackground = backgroundBox.checked
                    }

                    Label {
                        Layout.fillWidth: true
                        Layout.leftMargin: 32
                        visible: !desktop.trayAvailable
                        text: "The desktop offers no tray to keep the program in."
                        color: "#cfcfcf"
                        wrapMode: Text.WordWrap
                    }

                    CheckBox {
                        id: loginBox

                        Layout.fillWidth: true
                        text: "Start at login"
                        checked: desktop.startAtLogin

                        // Stays unticked when the entry could not be written.
                        onToggled: {
                            desktop.startAtLogin = loginBox.checked
                            loginBox.checked = desktop.startAtLogin
                        }
                    }
                }
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

            SyncSection {
                Layout.fillWidth: true
                sync: syncService
                signedIn: auth.loggedIn
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
    }

    FileDialog {
        id: soundFileDialog

        fileMode: FileDialog.OpenFile

        onAccepted: settings.soundFile = soundFileDialog.selectedFile.toString()
    }
}
