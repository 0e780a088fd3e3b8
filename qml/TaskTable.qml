pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls

// The rows of the loaded page, with the selected row highlighted; a tap reports the row.
TableView {
    id: table

    required property int selectedRow
    property bool tapEnabled: true

    signal rowTapped(int row)

    // Scrolls just far enough to show the row.
    function scrollToRow(row) {
        if (row >= 0 && row < table.rows)
            table.positionViewAtRow(row, TableView.Visible)
    }

    // Gives the keyboard focus to the name cell of a row, so a screen reader speaks the task.
    function focusRow(row) {
        table.forceLayout()
        const item = table.itemAtCell(Qt.point(1, row))
        if (item)
            item.forceActiveFocus()
    }

    function showFirstRow() {
        table.contentY = table.originY - table.topMargin
    }

    objectName: "table"
    clip: true
    model: taskModel
    columnSpacing: 1
    rowSpacing: 1
    columnWidthProvider: function(column) {
        switch (column) {
        case 0:
            return 70
        case 1:
            return Math.max(200, table.width - 610)
        case 2:
            return 90
        default:
            return 220
        }
    }
    rowHeightProvider: function(row) {
        return 36
    }
    onWidthChanged: table.forceLayout()

    Accessible.role: Accessible.Table
    Accessible.name: "Tasks"

    ScrollBar.vertical: ScrollBar {}
    ScrollBar.horizontal: ScrollBar {}

    delegate: Rectangle {
        id: cell

        required property int row
        required property int column
        required property var display
        // A repeating task's rule in words; its name cell shows a mark that says it.
        required property string repeatText
        // A task from a server or an import may have no due time: its cell says so, dimmed.
        readonly property bool noDueTime: cell.column === 3 && cell.display === ""
        readonly property string spoken: cell.column === 2 ? (cell.display === true ? "Done" : "Pending")
                                                           : cellText.text

        color: cell.row === table.selectedRow ? Theme.selectedRow
                                              : (cell.row % 2 === 0 ? Theme.evenRow : Theme.oddRow)
        border.color: Theme.cellBorder

        // A cell reads its text; the Done column says in words what its dot shows.
        Accessible.role: Accessible.Cell
        Accessible.name: cell.spoken
        Accessible.description: cell.column === 1 && cell.repeatText !== ""
                                ? "Repeats: " + cell.repeatText : ""
        Accessible.selected: cell.row === table.selectedRow
        Accessible.focusable: true

        Text {
            id: cellText

            anchors.fill: parent
            anchors.margins: 10
            anchors.rightMargin: repeatMark.visible ? repeatMark.width + 14 : 10
            visible: cell.column !== 2
            text: cell.noDueTime ? "No due time"
                                 : cell.display === undefined ? "" : String(cell.display)
            textFormat: Text.PlainText
            color: cell.noDueTime ? Theme.quietText : Theme.text
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
        }

        Text {
            id: repeatMark

            objectName: "repeatMark"
            anchors.right: parent.right
            anchors.rightMargin: 8
            anchors.verticalCenter: parent.verticalCenter
            visible: cell.column === 1 && cell.repeatText !== ""
            text: "\u21BB"
            color: Theme.quietText

            ToolTip.visible: repeatHover.hovered
            ToolTip.text: cell.repeatText

            HoverHandler {
                id: repeatHover
            }
        }

        Rectangle {
            anchors.centerIn: parent
            width: 16
            height: 16
            radius: 8
            visible: cell.column === 2
            color: cell.display === true ? Theme.doneMark : cell.color
            border.width: 1
            border.color: Theme.markBorder
        }

        // A text cut off at the right is shown whole while the pointer rests on it.
        HoverHandler {
            onHoveredChanged: {
                if (hovered && cellText.visible && cellText.truncated)
                    fullText.showFor(cell, cellText.text)
                else if (fullText.parent === cell)
                    fullText.close()
            }
        }

        TapHandler {
            enabled: table.tapEnabled
            onTapped: table.rowTapped(cell.row)
        }
    }

    ToolTip {
        id: fullText

        function showFor(item, text) {
            fullText.parent = item
            fullText.text = text
            fullText.open()
        }

        objectName: "fullText"
        width: Math.min(fullText.implicitWidth, table.width)
        delay: 500

        contentItem: Text {
            text: fullText.text
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            color: Theme.text
        }
    }
}
