import QtQuick
import QtQuick.Controls

// The style's button, which a screen reader's Press action clicks as well: Qt 6.4 leaves that
// action to the item.
Button {
    id: control

    Accessible.onPressAction: control.clicked()
}
