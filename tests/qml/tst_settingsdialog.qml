import QtQuick
import QtQuick.Controls
import QtTest
import TarvikQml
import "items.js" as Items

TestCase {
    id: testCase

    name: "SettingsDialog"
    when: windowShown
    width: 1300
    height: 700
    visible: true

    Component {
        id: dialogComponent

        SettingsDialog {}
    }

    function init() {
        settings.notifyMinutes = 10
        settings.soundFile = ""
        desktop.startAtLogin = false
    }

    function openDialog() {
        const dialog = createTemporaryObject(dialogComponent, testCase)
        dialog.open()
        tryCompare(dialog, "opened", true)
        return dialog
    }

    function spinBox(dialog) {
        const found = Items.findItem(dialog.contentItem, item => item.from === 1 && item.to === 1440)
        verify(found, "no spin box from 1 to 1440")
        return found
    }

    function labelShowing(dialog, text) {
        return Items.findItem(dialog.contentItem, item => item.text === text && item.wrapMode !== undefined)
    }

    function closeBy(dialog, how) {
        verify(waitForItemPolished(dialog.footer.contentItem))
        if (how === "Escape")
            keyClick(Qt.Key_Escape)
        else
            mouseClick(Items.findItem(dialog.footer, item => item.text === how))
        tryCompare(dialog, "visible", false)
    }

    function fileDialog(dialog) {
        for (let i = 0; i < dialog.contentData.length; ++i) {
            if (dialog.contentData[i].selectedFile !== undefined)
                return dialog.contentData[i]
        }
        fail("no file dialog")
    }

    function test_arrowKeysStayInRange_data() {
        return [
            { tag: "up from ten", start: 10, key: Qt.Key_Up, expected: 11 },
            { tag: "down from ten", start: 10, key: Qt.Key_Down, expected: 9 },
            { tag: "stops at 1", start: 1, key: Qt.Key_Down, expected: 1 },
            { tag: "stops at 1440", start: 1440, key: Qt.Key_Up, expected: 1440 }
        ]
    }

    function test_arrowKeysStayInRange(data) {
        settings.notifyMinutes = data.start
        const dialog = openDialog()
        const box = spinBox(dialog)
        compare(box.value, data.start)
        box.forceActiveFocus()

        keyClick(data.key)
        compare(box.value, data.expected)
        closeBy(dialog, "OK")

        compare(settings.notifyMinutes, data.expected)
    }

    function test_typedValue_data() {
        return [
            { tag: "within the range", typed: "25", expected: 25 },
            { tag: "above the range", typed: "5000", expected: 1440 },
            { tag: "zero", typed: "0", expected: 1 }
        ]
    }

    function test_typedValue(data) {
        const dialog = openDialog()
        const box = spinBox(dialog)
        box.contentItem.forceActiveFocus()
        box.contentItem.selectAll()

        for (const character of data.typed)
            keyClick(character)
        keyClick(Qt.Key_Return)
        closeBy(dialog, "OK")

        verify(box.value >= 1 && box.value <= 1440)
        compare(settings.notifyMinutes, data.expected)
    }

    // Nothing is stored before OK; Cancel, Escape and a press outside leave what was stored,
    // and the next opening shows it.
    function test_appliedOnOkOnly_data() {
        const arrows = dialog => {
            spinBox(dialog).forceActiveFocus()
            keyClick(Qt.Key_Up)
            keyClick(Qt.Key_Up)
        }
        const typed = dialog => {
            spinBox(dialog).contentItem.forceActiveFocus()
            spinBox(dialog).contentItem.selectAll()
            keyClick("2")
            keyClick("5")
        }
        const login = dialog => mouseClick(Items.findItem(dialog.contentItem, item => item.text === "Start at login"))
        const sound = dialog => {
            fileDialog(dialog).selectedFile = "file://" + dbPath
            fileDialog(dialog).accepted()
        }
        const minutes = () => settings.notifyMinutes
        const atLogin = () => desktop.startAtLogin
        const soundFile = () => settings.soundFile
        return [
            { tag: "lead time by the arrows, Cancel", change: arrows, close: "Cancel", stored: minutes, expected: 10 },
            { tag: "lead time typed, OK before it was taken", change: typed, close: "OK", stored: minutes, expected: 25 },
            { tag: "start at login, OK", change: login, close: "OK", stored: atLogin, expected: true },
            { tag: "start at login, Cancel", change: login, close: "Cancel", stored: atLogin, expected: false },
            { tag: "sound file, OK", change: sound, close: "OK", stored: soundFile, expected: dbPath },
            { tag: "sound file, Escape", change: sound, close: "Escape", stored: soundFile, expected: "" }
        ]
    }

    function test_appliedOnOkOnly(data) {
        const dialog = openDialog()
        const before = data.stored()
        data.change(dialog)
        compare(data.stored(), before)

        closeBy(dialog, data.close)

        compare(data.stored(), data.expected)
        dialog.open()
        tryCompare(dialog, "opened", true)
        compare(spinBox(dialog).value, settings.notifyMinutes)
        compare(Items.findItem(dialog.contentItem, item => item.text === "Start at login").checked,
                desktop.startAtLogin)
        compare(dialog.chosenSound, settings.soundFile)
    }

    // Every section is a tab away; one higher than the dialog shows its scroll bar, and every
    // opening starts at the top of the first tab.
    function test_sectionsInTabs() {
        const dialog = openDialog()
        dialog.height = 260
        const tabs = findChild(dialog.contentItem, "sections")
        const sections = [["Reminders", "Choose sound (WAV/MP3)"], ["Sync", "Test connection"],
                          ["Tasks in and out", "Database path:"], ["Account", "Change password"],
                          ["Shortcuts", "Shortcuts task table"]]
        compare(tabs.count, sections.length)
        sections.forEach(([title, content], index) => {
                             compare(tabs.itemAt(index).text, title)
                             mouseClick(tabs.itemAt(index))
                             tryVerify(() => Items.findItem(dialog.contentItem, item => item.text === content).visible)
                         })

        mouseClick(tabs.itemAt(0))
        const reminders = findChild(dialog.contentItem, "remindersTab")
        tryCompare(reminders.ScrollBar.vertical.contentItem, "opacity", 1)
        reminders.contentItem.contentY = 100
        mouseClick(tabs.itemAt(2))
        closeBy(dialog, "Cancel")
        dialog.open()
        tryCompare(dialog, "opened", true)
        compare(tabs.currentIndex, 0)
        compare(reminders.contentItem.contentY, 0)
    }

    function test_showsCurrentSettingsAndDatabasePath() {
        settings.notifyMinutes = 42
        settings.soundFile = "/home/someone/sounds/bell.wav"
        const dialog = openDialog()

        compare(spinBox(dialog).value, 42)
        verify(labelShowing(dialog, "/home/someone/sounds/bell.wav"))
        verify(labelShowing(dialog, dbPath))
        compare(dialog.title, "Settings")
        compare(dialog.modal, true)
    }

    // Any existing file may be chosen; the database file is one that is sure to exist.
    function test_chosenFileIsShownAsLocalPath() {
        const dialog = openDialog()
        const files = fileDialog(dialog)
        files.selectedFile = "file://" + dbPath

        files.accepted()

        compare(settings.soundFile, "")
        verify(labelShowing(dialog, dbPath))
        const labels = []
        Items.findItem(dialog.contentItem, item => {
                     if (item.text === dbPath)
                         labels.push(item)
                     return false
                 })
        compare(labels.length, 2)
    }

    function test_cancelledFileChoiceChangesNothing() {
        settings.soundFile = "/home/someone/sounds/bell.wav"
        const dialog = openDialog()
        const files = fileDialog(dialog)
        files.selectedFile = "file://" + dbPath

        files.rejected()

        compare(settings.soundFile, "/home/someone/sounds/bell.wav")
    }

    function transferDialog(dialog, title) {
        const row = Items.findItem(dialog.contentItem, item => item.transfer !== undefined)
        verify(row, "no export and import row")
        for (let i = 0; i < row.data.length; ++i) {
            if (row.data[i].title === title)
                return row.data[i]
        }
        fail("no file dialog " + title)
    }

    // The task goes out to a file, is deleted, and comes back into the list from the file.
    function test_exportThenImportBringsTasksBack() {
        auth.registerUser("transfer", "password", "Transfer")
        verify(auth.login("transfer", "password"))
        verify(taskService.createTask("Water plants", new Date(Date.UTC(2026, 2, 10, 9, 0)), true))
        const dialog = openDialog()
        const file = "file://" + dbPath.replace(/[^\/]*$/, "transfer.ics")

        const exporter = transferDialog(dialog, "Export tasks")
        exporter.selectedFile = file
        exporter.accepted()
        tryVerify(() => Items.findItem(dialog.contentItem, item => String(item.text).startsWith("Exported 1 tasks")))
        verify(taskService.deleteAllInactive())
        compare(taskService.totalCount, 0)

        const importer = transferDialog(dialog, "Import tasks")
        importer.selectedFile = file
        importer.accepted()
        tryVerify(() => labelShowing(dialog, "Imported 1 tasks, updated 0, skipped 0"))
        compare(taskService.totalCount, 1)
        compare(taskModel.rowCount(), 1)
        auth.logout()
    }

    // A screen reader's Press opens the file dialogs, as a click does; each says what it does
    // on its button and shows a list of files of a useful length in the window as it starts.
    function test_pressOpensFileDialog_data() {
        return [
            { tag: "export", button: "Export tasks...", title: "Export tasks", accept: "Save" },
            { tag: "import", button: "Import tasks...", title: "Import tasks", accept: "Import" }
        ]
    }

    function test_pressOpensFileDialog(data) {
        const dialog = openDialog()
        const files = transferDialog(dialog, data.title)
        files.currentFolder = "file:///"
        Items.findItem(dialog.contentItem, item => item.text === data.button).Accessible.pressAction()
        tryCompare(files, "visible", true)
        const frame = Items.findItem(Overlay.overlay, item => item.objectName === "dialogTitleBarLabel" && item.text === data.title && item.visible)
        if (!frame && files.visible) {
            // Newer Qt shows the dialog as a window of its own, sized and resized as any window.
            files.reject()
            skip("the file dialog is a window of its own")
        }
        verify(frame, "no drawn file dialog")
        let popup = frame
        while (popup.parent !== Overlay.overlay)
            popup = popup.parent
        verify(Items.findItem(popup, item => item.text === data.accept && item.clicked !== undefined && item.visible))
        const list = Items.findItem(popup, item => item.objectName === "fileDialogListView")
        tryVerify(() => list.count > 0 && list.itemAtIndex(0))
        verify(list.height >= 8 * list.itemAtIndex(0).height, "rows shown: " + list.height / list.itemAtIndex(0).height)
        files.reject()
    }

    // Off screen there is no tray to keep the program in: that box is off and says why.
    function test_backgroundBoxWithoutTray() {
        const dialog = openDialog()
        const keep = Items.findItem(dialog.contentItem, item => item.checkState !== undefined && item.text.startsWith("Keep running"))
        verify(!keep.enabled)
        verify(Items.findItem(dialog.contentItem, item => item.visible && item.text !== undefined && item.text.includes("no tray")))
    }
}
