import QtQuick
import QtQuick.Controls

// The style's button, which a screen reader's Press action clicks as well (Qt 6.4 leaves that
// action to the item), and Return or Enter too while it has the focus, as Space does. Where a
// form binds Return to a shortcut of its own, the shortcut comes first. A disabled button
// ignores all three, as it ignores the mouse.
Button {
    id: control

    function activate() {
        if (control.enabled)
            control.clicked()
    }

    Accessible.onPressAction: control.activate()
    Keys.onReturnPressed: control.activate()
    Keys.onEnterPressed: control.activate()
}
