import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts

// Export and import of the signed-in account's tasks, after the line that tells what the last
// one did; while one runs, how far it has come and a button that stops it.
RowLayout {
    id: transferRow

    required property var transfer

    // The chosen export file; the CSV filter adds ".csv" to a name without a suffix.
    function exportTarget() {
        const url = String(exportDialog.selectedFile)
        const hasSuffix = /\.[^\/.]+$/.test(url)
        return hasSuffix || exportDialog.selectedNameFilter.index !== 1 ? url : url + ".csv"
    }

    // Qt Quick's own file dialog is drawn at its fixed size of 600 x 400, which shows four or
    // five files: the open dialog is given the window's size, less a margin, instead. Its frame
    // is the popup in the window's overlay that holds the dialog's file list and its title.
    // Where Qt shows the dialog as a window of its own, it is left to the window manager.
    function fitDialog(dialog) {
        const window = transferRow.Window.window
        const overlay = transferRow.Overlay.overlay
        if (!window || !overlay)
            return
        for (let i = 0; i < overlay.children.length; ++i) {
            const frame = overlay.children[i]
            const background = frame["background"]
            if (background && transferRow.holds(frame, dialog.title)) {
                background.implicitWidth = Math.max(600, Math.min(window.width - 80, 960))
                background.implicitHeight = Math.max(400, window.height - 80)
                return
            }
        }
    }

    // Whether item, or an item below it, is the title label of a file dialog titled title.
    function holds(item, title) {
        if (item.objectName === "dialogTitleBarLabel")
            return item["text"] === title
        for (let i = 0; i < item.children.length; ++i) {
            if (transferRow.holds(item.children[i], title))
                return true
        }
        return false
    }

    spacing: 10

    Label {
        Layout.fillWidth: true
        text: transferRow.transfer.resultText
        textFormat: Text.PlainText
        horizontalAlignment: Text.AlignRight
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        maximumLineCount: 2
        elide: Text.ElideRight
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text
    }

    ProgressBar {
        Layout.preferredWidth: 120
        visible: transferRow.transfer.busy
        from: 0
        to: 1
        value: transferRow.transfer.progress
        Accessible.name: "Transfer progress"
    }

    ActionButton {
        text: "Cancel"
        visible: transferRow.transfer.busy
        Accessible.name: "Cancel the transfer"

        onClicked: transferRow.transfer.cancel()
    }

    ActionButton {
        text: "Export tasks..."
        enabled: !transferRow.transfer.busy
        Accessible.name: text

        onClicked: exportDialog.open()
    }

    ActionButton {
        text: "Import tasks..."
        enabled: !transferRow.transfer.busy
        Accessible.name: text

        onClicked: importDialog.open()
    }

    FileDialog {
        id: exportDialog

        title: "Export tasks"
        fileMode: FileDialog.SaveFile
        acceptLabel: "Save"
        nameFilters: ["iCalendar (*.ics)", "CSV (*.csv)"]

        onAccepted: transferRow.transfer.startExport(transferRow.exportTarget())
        onVisibleChanged: {
            if (visible)
                transferRow.fitDialog(exportDialog)
        }
    }

    FileDialog {
        id: importDialog

        title: "Import tasks"
        fileMode: FileDialog.OpenFile
        acceptLabel: "Import"
        nameFilters: ["iCalendar (*.ics *.ical)"]

        onAccepted: transferRow.transfer.startImport(importDialog.selectedFile)
        onVisibleChanged: {
            if (visible)
                transferRow.fitDialog(importDialog)
        }
    }
}
