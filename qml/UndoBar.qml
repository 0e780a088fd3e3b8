import QtQuick
import QtQuick.Layouts

// The last command on the tasks, with the button that undoes it, for a few seconds after it ran.
Rectangle {
    id: undoBar

    // The journal of commands (the taskUndo service).
    required property var journal

    signal undoRequested()

    objectName: "undoBar"
    visible: undoBar.journal.showing
    implicitHeight: row.implicitHeight + 12
    color: Theme.popupFill
    border.color: Theme.popupBorder
    radius: 4

    RowLayout {
        id: row

        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 6
        spacing: 10

        StatusLabel {
            objectName: "undoText"
            Layout.fillWidth: true
            text: undoBar.visible ? undoBar.journal.text : ""
            color: Theme.text
        }

        ActionButton {
            objectName: "undoButton"
            text: "Undo"
            visible: undoBar.journal.canUndo
            focusPolicy: Qt.NoFocus
            onClicked: undoBar.undoRequested()
        }

        ActionButton {
            objectName: "undoClose"
            text: "\u2715"
            flat: true
            focusPolicy: Qt.NoFocus
            onClicked: undoBar.journal.dismiss()

            Accessible.name: "Close"
        }
    }
}
