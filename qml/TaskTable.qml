pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls

// The rows of the loaded page, with the selected row highlighted; a tap reports the row.
TableView {
    id: table

    required property int selectedRow
    property bool tapEnabled: true

    signal rowTapped(int row)
    // The status circle of the row was clicked.
    signal doneToggled(int row)

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

    // The name cell's tooltip: the full name when cut off, then the notes.
    function nameTip(cell, cut) {
        const name = cut ? cell.display : ""
        return name !== "" && cell.notes !== "" ? name + "\n\n" + cell.notes : name + cell.notes
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
        required property bool overdue
        required property string notes
        required property int priority
        required property var tags
        // A repeating task's rule in words; its name cell shows a mark that says it.
        required property string repeatText
        // The name cell as spoken: the name, its priority and its tags.
        readonly property string marked: cellText.text
                                         + (cell.priority > 0 ? ", " + ["", "low", "medium", "high"][cell.priority]
                                                                + " priority" : "")
                                         + (cell.tags.length > 0 ? ", tags " + cell.tags.join(", ") : "")
        // A task from a server or an import may have no due time: its cell says so, dimmed.
        readonly property bool noDueTime: cell.column === 3 && cell.display === ""
        readonly property string spoken: cell.column === 2 ? (cell.display === true ? "Done" : "Pending")
                                                           : cell.column === 1 ? cell.marked
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
            visible: cell.column !== 2 && cell.column !== 1
            text: cell.noDueTime ? "No due time"
                                 : cell.display === undefined ? "" : String(cell.display)
            textFormat: Text.PlainText
            color: cell.noDueTime ? Theme.quietText
                                  : cell.column === 3 && cell.overdue ? Theme.error : Theme.text
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
        }

        // The name, with the priority mark before it and the tags after it.
        Row {
            id: nameLine

            anchors.fill: parent
            anchors.margins: 10
            anchors.rightMargin: repeatMark.visible ? repeatMark.width + 14 : 10
            spacing: 6
            visible: cell.column === 1

            Text {
                id: priorityMark

                objectName: "priorityMark"
                visible: cell.priority > 0
                text: ["", "Low", "Med", "High"][cell.priority]
                textFormat: Text.PlainText
                color: ["", Theme.totalCount, Theme.doneMark, Theme.error][cell.priority]
                font.bold: true
                anchors.verticalCenter: parent.verticalCenter
            }

            Text {
                id: nameText

                width: Math.min(nameText.implicitWidth, nameLine.width - tagsText.width
                                - (priorityMark.visible ? priorityMark.width + nameLine.spacing : 0)
                                - (tagsText.visible ? nameLine.spacing : 0))
                text: cellText.text
                textFormat: Text.PlainText
                color: Theme.text
                elide: Text.ElideRight
                anchors.verticalCenter: parent.verticalCenter
            }

            Text {
                id: tagsText

                objectName: "tagsText"
                width: Math.min(tagsText.implicitWidth, nameLine.width / 2)
                visible: cell.tags.length > 0
                text: "#" + cell.tags.join(" #")
                textFormat: Text.PlainText
                color: Theme.totalCount
                elide: Text.ElideRight
                anchors.verticalCenter: parent.verticalCenter
            }
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
            objectName: "statusCircle"
            anchors.centerIn: parent
            width: 16
            height: 16
            radius: 8
            visible: cell.column === 2
            color: cell.display === true ? Theme.doneMark : cell.color
            border.width: 1
            border.color: Theme.markBorder

            // A click on the circle selects the row and marks the task Done or Pending.
            TapHandler {
                enabled: table.tapEnabled
                onTapped: {
                    table.rowTapped(cell.row)
                    table.doneToggled(cell.row)
                }
            }
        }

        // A text cut off at the right is shown whole while the pointer rests on it.
        HoverHandler {
            onHoveredChanged: {
                const whole = cell.column === 1 ? table.nameTip(cell, nameText.truncated)
                                                : (cellText.visible && cellText.truncated
                                                   ? cellText.text : "")
                if (hovered && whole !== "")
                    fullText.showFor(cell, whole)
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
