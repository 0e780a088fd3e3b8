import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts

// The settings in five tabs: reminders, sync, export and import with the database's place, the
// account, and the keyboard shortcuts. A setting takes effect on OK: every opening starts from the stored
// values, and Cancel, Escape or a press outside leave them as they were. Sync, export and import
// are commands and act at once.
Dialog {
    id: settingsDialog

    // The sound file chosen in this opening, stored on OK.
    property string chosenSound: ""
    // What went wrong when OK was last pressed; kept until the dialog is left without it.
    property string problem: ""

    // The signed-in account was deleted from the Account tab.
    signal accountDeleted()

    // A tab's content: one column that scrolls, with its bar shown, when the dialog is too low.
    component SettingsTab: ScrollView {
        id: tab

        default property alias content: column.data

        function toTop() {
            tab.ScrollBar.vertical.position = 0
        }

        implicitWidth: 600
        contentWidth: tab.availableWidth
        clip: true

        ScrollBar.vertical.policy: tab.contentHeight > tab.availableHeight ? ScrollBar.AlwaysOn
                                                                           : ScrollBar.AsNeeded

        ColumnLayout {
            id: column

            width: tab.availableWidth
                   - (tab.ScrollBar.vertical.visible ? tab.ScrollBar.vertical.width : 0)
            spacing: 10
        }
    }

    // A tab as wide as its title, which a screen reader's Press selects as a click does.
    component SectionButton: TabButton {
        id: sectionButton

        width: sectionButton.implicitWidth
        font.pixelSize: 16

        Accessible.name: sectionButton.text
        Accessible.onPressAction: {
            sectionButton.TabBar.tabBar.setCurrentIndex(sectionButton.TabBar.index)
        }
    }

    // Every opening shows the stored settings, in the first tab, from its top.
    function load() {
        minutesBox.value = settings.notifyMinutes
        settingsDialog.chosenSound = settings.soundFile
        backgroundBox.checked = desktop.keepRunningInBackground
        loginBox.checked = desktop.startAtLogin
        sections.setCurrentIndex(0)
        accountSection.clear()
        for (const tab of [remindersTab, syncTab, transferTab, accountTab, shortcutsTab])
            tab.toTop()
    }

    // A number typed into a spin box counts, also when OK comes before the box lost the focus.
    // The box shows its value in the locale's format ("1,440"); a text that is no number yet
    // leaves the value as it was.
    function commitTypedValue(box) {
        try {
            const typed = box.valueFromText(box.contentItem.text, box.locale)
            if (!isNaN(typed))
                box.value = typed
        } catch (notANumber) {
        }
    }

    // A screen reader's Press and Toggle tick or untick a box as a click does. (Qt 6.4 does
    // nothing on Press and flips the box on Toggle without telling it.)
    function toggleBox(box) {
        if (box.enabled)
            box.toggle()
    }

    // The autostart entry alone can fail: then the dialog opens again, once closed, and says so.
    function apply() {
        settingsDialog.commitTypedValue(minutesBox)
        settings.notifyMinutes = minutesBox.value
        settings.soundFile = settingsDialog.chosenSound
        desktop.keepRunningInBackground = backgroundBox.checked
        desktop.startAtLogin = loginBox.checked
        settingsDialog.problem = desktop.startAtLogin === loginBox.checked
                ? "" : loginBox.checked ? "The autostart entry could not be written."
                                        : "The autostart entry could not be removed."
    }

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
        settingsDialog.load()
        taskTransfer.clearResult()
        desktop.refreshTray()
    }
    onAccepted: settingsDialog.apply()
    onRejected: settingsDialog.problem = ""
    onClosed: {
        if (settingsDialog.problem !== "")
            settingsDialog.open()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 12

        TabBar {
            id: sections

            objectName: "sections"
            Layout.fillWidth: true

            SectionButton {
                text: "Reminders"
            }

            SectionButton {
                text: "Sync"
            }

            SectionButton {
                text: "Tasks in and out"
            }

            SectionButton {
                text: "Account"
            }

            SectionButton {
                text: "Shortcuts"
            }
        }

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: sections.currentIndex

            SettingsTab {
                id: remindersTab

                objectName: "remindersTab"

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

                        Accessible.name: "Minutes before task expiration"
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
                                 && settings.soundFile === settingsDialog.chosenSound
                        Accessible.name: "Test the reminder sound"

                        onClicked: notifier.testSound()
                    }

                    ActionButton {
                        text: "No sound"
                        enabled: settingsDialog.chosenSound !== ""

                        onClicked: {
                            notifier.stopSound()
                            settingsDialog.chosenSound = ""
                        }
                    }
                }

                Label {
                    Layout.fillWidth: true
                    text: settingsDialog.chosenSound
                    textFormat: Text.PlainText
                    wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                }

                CheckBox {
                    id: backgroundBox

                    Layout.fillWidth: true
                    Layout.topMargin: 6
                    text: "Keep running in the background when the window is closed"
                    enabled: desktop.trayAvailable

                    Accessible.name: backgroundBox.text
                    Accessible.onPressAction: settingsDialog.toggleBox(backgroundBox)
                    Accessible.onToggleAction: settingsDialog.toggleBox(backgroundBox)
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

                    Accessible.name: loginBox.text
                    Accessible.onPressAction: settingsDialog.toggleBox(loginBox)
                    Accessible.onToggleAction: settingsDialog.toggleBox(loginBox)
                }

                // What a kept sign-in means for whoever else uses this desktop account.
                Label {
                    objectName: "keptSignInNote"

                    Layout.fillWidth: true
                    Layout.leftMargin: 32
                    color: "#cfcfcf"
                    wrapMode: Text.WordWrap
                    text: !keptSignIn.kept
                          ? "Reminders after login need \"Keep me signed in on this computer\" "
                            + "on the sign-in page."
                          : (keptSignIn.inSecretService
                             ? "You stay signed in on this computer: a sign-in token is kept in "
                               + "the desktop's secret service."
                             : "You stay signed in on this computer: a sign-in token is kept in "
                               + "a file only your desktop account can read.")
                            + " Anyone who uses this desktop account can open your tasks "
                            + "without your password. Sign out to forget it."
                }

                StatusLabel {
                    Layout.fillWidth: true
                    text: settingsDialog.problem
                    color: Theme.error
                    wrapMode: Text.Wrap
                }
            }

            SettingsTab {
                id: syncTab

                SyncSection {
                    Layout.fillWidth: true
                    sync: syncService
                    signedIn: auth.loggedIn
                }
            }

            SettingsTab {
                id: transferTab

                Label {
                    Layout.fillWidth: true
                    text: "Export writes this account's tasks to an iCalendar or CSV file; import "
                          + "reads the tasks of an iCalendar file into it."
                    wrapMode: Text.WordWrap
                }

                TaskTransferRow {
                    Layout.fillWidth: true
                    transfer: taskTransfer
                }

                Label {
                    Layout.topMargin: 16
                    text: "Database path:"
                    font.pointSize: 12
                    wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                }

                Label {
                    Layout.fillWidth: true
                    text: dbPath
                    textFormat: Text.PlainText
                    wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                }
            }

            SettingsTab {
                id: accountTab

                AccountSection {
                    id: accountSection

                    Layout.fillWidth: true
                    identity: auth
                    removal: accountRemoval
                    transfer: taskTransfer

                    onAccountDeleted: {
                        settingsDialog.problem = ""
                        settingsDialog.close()
                        settingsDialog.accountDeleted()
                    }
                }
            }

            SettingsTab {
                id: shortcutsTab

                ShortcutsList {
                    Layout.fillWidth: true
                }
            }
        }
    }

    FileDialog {
        id: soundFileDialog

        fileMode: FileDialog.OpenFile

        onAccepted: {
            const url = String(soundFileDialog.selectedFile)
            settingsDialog.chosenSound = settings.soundFilePath(url)
        }
    }
}
