import QtQuick
import QtQuick.Controls

// A status or error text that a screen reader speaks as it appears. A Label keeps the role its
// style gives it, so an alert laid over it speaks for it; the alert shows only while there is
// text, and a screen reader presents an alert each time it shows.
Item {
    id: statusLabel

    property alias text: label.text
    property alias color: label.color
    property alias wrapMode: label.wrapMode

    implicitWidth: label.implicitWidth
    implicitHeight: label.implicitHeight

    Label {
        id: label

        width: statusLabel.width

        Accessible.ignored: true
    }

    Item {
        anchors.fill: label
        visible: label.text.length > 0

        Accessible.role: Accessible.AlertMessage
        Accessible.name: label.text
    }
}
