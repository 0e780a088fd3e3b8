import QtQuick
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

    function fileDialog(dialog) {
        for (let i = 0; i < dialog.contentData.length; ++i) {
            if (dialog.contentData[i].selectedFile !== undefined)
                return dialog.contentData[i]
        }
        fail("no file dialog")
    }

    function test_arrowKeysWriteAtOnce_data() {
        return [
            { tag: "up from ten", start: 10, key: Qt.Key_Up, expected: 11 },
            { tag: "down from ten", start: 10, key: Qt.Key_Down, expected: 9 },
            { tag: "stops at 1", start: 1, key: Qt.Key_Down, expected: 1 },
            { tag: "stops at 1440", start: 1440, key: Qt.Key_Up, expected: 1440 }
        ]
    }

    function test_arrowKeysWriteAtOnce(data) {
        settings.notifyMinutes = data.start
        const box = spinBox(openDialog())
        compare(box.value, data.start)
        box.forceActiveFocus()

        keyClick(data.key)

        compare(settings.notifyMinutes, data.expected)
        compare(box.value, data.expected)
    }

    function test_typedValue_data() {
        return [
            { tag: "within the range", typed: "25", expected: 25 },
            { tag: "above the range", typed: "5000", expected: 1440 },
            { tag: "zero", typed: "0", expected: 1 }
        ]
    }

    function test_typedValue(data) {
        const box = spinBox(openDialog())
        box.contentItem.forceActiveFocus()
        box.contentItem.selectAll()

        for (const character of data.typed)
            keyClick(character)
        keyClick(Qt.Key_Return)

        verify(box.value >= 1 && box.value <= 1440)
        compare(settings.notifyMinutes, data.expected)
    }

    function test_closingKeepsChanges_data() {
        return [
            { tag: "Cancel", button: "Cancel" },
            { tag: "OK", button: "OK" }
        ]
    }

    function test_closingKeepsChanges(data) {
        const dialog = openDialog()
        spinBox(dialog).forceActiveFocus()
        keyClick(Qt.Key_Up)
        keyClick(Qt.Key_Up)

        mouseClick(Items.findItem(dialog.footer, item => item.text === data.button))

        tryCompare(dialog, "visible", false)
        compare(settings.notifyMinutes, 12)
        dialog.open()
        tryCompare(dialog, "opened", true)
        compare(spinBox(dialog).value, 12)
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

        compare(settings.soundFile, dbPath)
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
        verify(Items.findItem(dialog.contentItem, item => String(item.text).startsWith("Exported 1 tasks")))
        verify(taskService.deleteAllInactive())
        compare(taskService.totalCount, 0)

        const importer = transferDialog(dialog, "Import tasks")
        importer.selectedFile = file
        importer.accepted()
        verify(labelShowing(dialog, "Imported 1 tasks, updated 0, skipped 0"))
        compare(taskService.totalCount, 1)
        compare(taskModel.rowCount(), 1)
        auth.logout()
    }

    // Off screen there is no tray to keep the program in: that box is off and says why.
    function test_backgroundBoxWithoutTray() {
        const dialog = openDialog()
        const keep = Items.findItem(dialog.contentItem, item => item.checkState !== undefined && item.text.startsWith("Keep running"))
        verify(!keep.enabled)
        verify(Items.findItem(dialog.contentItem, item => item.visible && item.text !== undefined && item.text.includes("no tray")))
    }
}
