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
    }

    FileDialog {
        id: importDialog

        title: "Import tasks"
        fileMode: FileDialog.OpenFile
        acceptLabel: "Import"
        nameFilters: ["iCalendar (*.ics *.ical)"]

        onAccepted: transferRow.transfer.startImport(importDialog.selectedFile)
    }
}
