pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls

// The rows of the loaded page, with the selected row highlighted; a tap reports the row.
TableView {
    id: table

    required property int selectedRow
    property bool tapEnabled: true
    // The cell the pointer rests on.
    property Item pointed: null

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

    // Makes or drops the marks of a name cell as its task has them or not.
    function placeMarks(cell) {
        if (cell.hasMarks && !cell.marks) {
            cell.marks = nameMarks.createObject(cell, { cell: cell })
        } else if (!cell.hasMarks && cell.marks) {
            cell.marks.destroy()
            cell.marks = null
        }
    }

    // Makes or drops the status circle of a cell as it is in the Done column or not.
    function placeCircle(cell) {
        if (cell.column === 2 && !cell.circle) {
            cell.circle = statusCircle.createObject(cell, { cell: cell })
        } else if (cell.column !== 2 && cell.circle) {
            cell.circle.destroy()
            cell.circle = null
        }
    }

    // The pointer rests at position (in the content), or left the table (null).
    function pointAt(position) {
        const cell = position ? table.contentItem.childAt(position.x, position.y) : null
        if (cell === table.pointed)
            return
        if (table.pointed && fullText.parent === table.pointed)
            fullText.close()
        table.pointed = cell
        if (cell)
            table.showWhole(cell)
    }

    function showWhole(cell) {
        const whole = cell.nameCell ? table.nameTip(cell, cell.nameText.truncated)
                                    : (cell.nameText.visible && cell.nameText.truncated
                                       ? cell.nameText.text : "")
        if (whole !== "")
            fullText.showFor(cell, whole)
    }

    function tapCell(cell, position) {
        if (!cell)
            return
        table.rowTapped(cell.row)
        if (cell.circle && cell.circle.contains(table.contentItem.mapToItem(cell.circle, position)))
            table.doneToggled(cell.row)
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

    // A page load resets the model, and the table makes every cell anew: a cell makes only
    // what its column shows (the name cell's priority mark, tags and repeat mark only for a
    // task that has them) and reads the roles its column needs.
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
        readonly property bool nameCell: cell.column === 1
        readonly property int shownPriority: cell.nameCell ? cell.priority : 0
        readonly property string tagsLine: cell.nameCell && cell.tags.length > 0
                                           ? cell.tags.join(", ") : ""
        // The priority mark, the tags and the repeat mark of the name cell, made only for a task
        // that has any.
        readonly property bool hasMarks: cell.shownPriority > 0 || cell.tagsLine !== ""
                                         || (cell.nameCell && cell.repeatText !== "")
        property var marks: null
        // The Done column's status circle, made for the cells of that column alone.
        property var circle: null
        // The room the marks take before and after the name, and the name.
        readonly property real marksBefore: cell.marks ? cell.marks.before : 0
        readonly property real marksAfter: cell.marks ? cell.marks.after : 10
        readonly property Item nameText: cellText
        // A task from a server or an import may have no due time: its cell says so, dimmed.
        readonly property bool noDueTime: cell.column === 3 && cell.display === ""
        // The name cell as spoken: the name, its priority and its tags.
        readonly property string marked: cellText.text
                                         + (cell.shownPriority > 0
                                            ? ", " + ["", "low", "medium", "high"][cell.shownPriority]
                                              + " priority" : "")
                                         + (cell.tagsLine !== "" ? ", tags " + cell.tagsLine : "")
        readonly property string spoken: cell.column === 2
                                         ? (cell.display === true ? "Done" : "Pending")
                                         : cell.nameCell ? cell.marked : cellText.text

        color: cell.row === table.selectedRow ? Theme.selectedRow
                                              : (cell.row % 2 === 0 ? Theme.evenRow : Theme.oddRow)
        border.color: Theme.cellBorder

        // A cell reads its text; the Done column says in words what its dot shows.
        Accessible.role: Accessible.Cell
        Accessible.name: cell.spoken
        Accessible.description: cell.nameCell && cell.repeatText !== ""
                                ? "Repeats: " + cell.repeatText : ""
        Accessible.selected: cell.row === table.selectedRow
        Accessible.focusable: true

        onHasMarksChanged: table.placeMarks(cell)
        onColumnChanged: table.placeCircle(cell)
        Component.onCompleted: {
            table.placeMarks(cell)
            table.placeCircle(cell)
        }

        // The cell's text; in the name cell the name, cut off before the tags and the repeat
        // mark.
        Text {
            id: cellText

            // Left of the tags and the repeat mark, the room the name has.
            readonly property real room: cell.width - cellText.x - cell.marksAfter

            x: 10 + cell.marksBefore
            width: cell.nameCell ? Math.min(cellText.implicitWidth, cellText.room) : cell.width - 20
            height: cell.nameCell ? cellText.implicitHeight : cell.height - 20
            anchors.verticalCenter: parent.verticalCenter
            visible: cell.column !== 2
            text: cell.noDueTime ? "No due time"
                                 : cell.display === undefined ? "" : String(cell.display)
            textFormat: Text.PlainText
            color: cell.noDueTime ? Theme.quietText
                                  : cell.column === 3 && cell.overdue ? Theme.error : Theme.text
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
        }
    }

    // A text cut off at the right is shown whole while the pointer rests on it; on the name, the
    // notes with it. One handler for the table: the cells are its content's children.
    HoverHandler {
        id: pointer

        onPointChanged: {
            table.pointAt(pointer.hovered
                          ? pointer.parent.mapToItem(table.contentItem, pointer.point.position)
                          : null)
        }
        onHoveredChanged: {
            if (!pointer.hovered)
                table.pointAt(null)
        }
    }

    // A tap selects the row; on the status circle it also marks the task Done or Pending.
    TapHandler {
        id: tap

        enabled: table.tapEnabled
        onTapped: {
            const position = tap.parent.mapToItem(table.contentItem, tap.point.position)
            table.tapCell(table.contentItem.childAt(position.x, position.y), position)
        }
    }

    Component {
        id: statusCircle

        Rectangle {
            id: circle

            required property var cell

            objectName: "statusCircle"
            x: (circle.cell.width - circle.width) / 2
            y: (circle.cell.height - circle.height) / 2
            width: 16
            height: 16
            radius: 8
            color: circle.cell.display === true ? Theme.doneMark : circle.cell.color
            border.width: 1
            border.color: Theme.markBorder
        }
    }

    // The name cell's marks: the priority mark before the name, the tags after it and the
    // repeat mark at the right.
    Component {
        id: nameMarks

        Item {
            id: marksItem

            required property var cell
            // The room they take before and after the name.
            readonly property real before: priorityMark.visible ? priorityMark.width + 6 : 0
            readonly property real after: (repeatMark.visible ? repeatMark.width + 14 : 10)
                                          + (tagsText.visible ? tagsText.width + 6 : 0)

            width: marksItem.cell.width
            height: marksItem.cell.height

            Text {
                id: priorityMark

                objectName: "priorityMark"
                x: 10
                anchors.verticalCenter: parent.verticalCenter
                visible: marksItem.cell.shownPriority > 0
                text: ["", "Low", "Med", "High"][marksItem.cell.shownPriority]
                textFormat: Text.PlainText
                color: ["", Theme.totalCount, Theme.doneMark,
                        Theme.error][marksItem.cell.shownPriority]
                font.bold: true
            }

            // At most half of the room.
            Text {
                id: tagsText

                objectName: "tagsText"
                x: marksItem.cell.nameText.x + marksItem.cell.nameText.width + 6
                width: Math.min(tagsText.implicitWidth,
                                (marksItem.width - 10 - (repeatMark.visible ? repeatMark.width + 14
                                                                            : 10)) / 2)
                anchors.verticalCenter: parent.verticalCenter
                visible: marksItem.cell.tagsLine !== ""
                text: "#" + marksItem.cell.tags.join(" #")
                textFormat: Text.PlainText
                color: Theme.totalCount
                elide: Text.ElideRight
            }

            Text {
                id: repeatMark

                objectName: "repeatMark"
                anchors.right: parent.right
                anchors.rightMargin: 8
                anchors.verticalCenter: parent.verticalCenter
                visible: marksItem.cell.nameCell && marksItem.cell.repeatText !== ""
                text: "\u21BB"
                color: Theme.quietText

                ToolTip.visible: repeatHover.hovered
                ToolTip.text: marksItem.cell.repeatText

                HoverHandler {
                    id: repeatHover
                }
            }
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
