pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls

// The style's combo box for a list of plain values, with two changes. Up and Down change it
// while it has the focus, ahead of the page's shortcuts. Its entries are hidden along with the
// list: an entry deleted while it counts as shown, but its list is closed, crashes Qt 6.4 when
// a screen reader is attached.
ComboBox {
    id: control

    Keys.onShortcutOverride: function(event) {
        event.accepted = event.key === Qt.Key_Up || event.key === Qt.Key_Down
    }

    delegate: ItemDelegate {
        required property int index
        required property var modelData

        width: ListView.view.width
        visible: control.popup.visible
        text: modelData
        font.weight: control.currentIndex === index ? Font.DemiBold : Font.Normal
        highlighted: control.highlightedIndex === index
        hoverEnabled: control.hoverEnabled
    }
}
