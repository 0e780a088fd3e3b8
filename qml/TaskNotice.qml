import QtQuick
import QtQuick.Controls

// A short confirmation at the bottom of the page that goes by itself after a few seconds.
Popup {
    id: notice

    property string message: ""

    function show(text) {
        notice.message = text
        if (notice.opened) {
            // A screen reader announces a notification as it shows: show the new one anew.
            notice.contentItem.visible = false
            notice.contentItem.visible = true
        }
        notice.open()
        hideTimer.restart()
    }

    objectName: "taskNotice"
    x: notice.parent ? (notice.parent.width - notice.width) / 2 : 0
    y: notice.parent ? notice.parent.height - notice.height - 60 : 0
    width: Math.min(notice.implicitWidth, 520)
    padding: 10
    modal: false
    focus: false
    closePolicy: Popup.NoAutoClose

    background: Rectangle {
        color: Theme.popupFill
        border.color: Theme.popupBorder
    }

    contentItem: Label {
        text: notice.message
        textFormat: Text.PlainText
        color: Theme.text
        elide: Text.ElideRight

        Accessible.role: Accessible.Notification
        Accessible.name: notice.message
    }

    Timer {
        id: hideTimer

        interval: 4000
        onTriggered: notice.close()
    }
}
