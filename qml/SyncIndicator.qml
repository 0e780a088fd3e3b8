import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The sync's state beside the toolbar's buttons, for an account that syncs: a green dot while
// all is well, a red one when the sync needs the person, a spinner while it runs, and the status
// line as tooltip and accessible description. A press asks for the password when the sync waits
// for it, opens the settings after a failure, and syncs otherwise.
ActionButton {
    id: indicator

    required property var sync
    readonly property bool problem: indicator.sync.needsPassword || indicator.sync.failed

    signal passwordRequested
    signal settingsRequested

    objectName: "syncIndicator"
    visible: indicator.sync.configured
    text: indicator.sync.busy ? "Syncing" : "Sync"
    ToolTip.visible: indicator.hovered && indicator.sync.status.length > 0
    ToolTip.text: indicator.sync.status
    ToolTip.delay: 500

    Accessible.name: "Sync"
    Accessible.description: indicator.sync.status
    onClicked: {
        if (indicator.sync.needsPassword)
            indicator.passwordRequested()
        else if (indicator.sync.failed)
            indicator.settingsRequested()
        else
            indicator.sync.syncNow()
    }

    contentItem: RowLayout {
        spacing: 6

        Item {
            Layout.alignment: Qt.AlignVCenter
            implicitWidth: 16
            implicitHeight: 16

            Rectangle {
                anchors.centerIn: parent
                width: 10
                height: 10
                radius: 5
                visible: !indicator.sync.busy
                color: indicator.problem ? Theme.error : Theme.doneMark
            }

            BusyIndicator {
                anchors.fill: parent
                visible: indicator.sync.busy
                running: indicator.sync.busy
            }
        }

        Label {
            Layout.alignment: Qt.AlignVCenter
            text: indicator.text
            color: Theme.text
        }
    }
}
