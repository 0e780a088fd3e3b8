import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Asks the person before a sync deletes many tasks here at once: keeping them, the default,
// uploads them again.
ColumnLayout {
    id: prompt

    required property var sync

    spacing: 6
    visible: prompt.sync !== null && prompt.sync.deletionsToConfirm > 0

    onVisibleChanged: {
        if (prompt.visible)
            keepButton.forceActiveFocus()
    }

    RowLayout {
        Layout.fillWidth: true

        Button {
            id: keepButton

            text: "Keep my tasks and upload them again"
            highlighted: true
            Accessible.name: keepButton.text
            Accessible.description: prompt.sync ? prompt.sync.status : ""

            onClicked: prompt.sync.confirmDeletions(false)
            Keys.onReturnPressed: prompt.sync.confirmDeletions(false)
        }

        Button {
            id: deleteButton

            text: "Delete %1 tasks here".arg(prompt.sync ? prompt.sync.deletionsToConfirm : 0)
            Accessible.name: deleteButton.text

            onClicked: prompt.sync.confirmDeletions(true)
        }
    }
}
