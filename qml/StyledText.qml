import QtQuick
import QtQuick.Controls

TextField {
    id: control

    property color baseColor: "#121212"
    property color disabledColor: "#2c2c34"
    property color borderColor: "#ffffff"
    property color hoverBorderColor: "#aeb8ff"
    property color focusBorderColor: "#7291ff"
    readonly property color hoverFillColor: Qt.lighter(control.baseColor, 1.08)
    readonly property color focusFillColor: Qt.darker(control.baseColor, 1.12)

    implicitHeight: 24
    padding: 12
    font.pixelSize: 14
    hoverEnabled: true
    color: control.enabled ? "white" : "#7f7f87"
    placeholderTextColor: "#9ea4b3"
    selectionColor: "#536dfe"
    selectedTextColor: "white"

    // Named after what it asks for unless the user of the field names it.
    Accessible.name: control.placeholderText

    // Unlike the button, focus wins over hover here, and a disabled field has its own border.
    background: Rectangle {
        radius: 4
        border.width: 1
        color: !control.enabled ? control.disabledColor
                                : control.activeFocus ? control.focusFillColor
                                                      : control.hovered ? control.hoverFillColor
                                                                        : control.baseColor
        border.color: !control.enabled ? "#5b606b"
                                       : control.activeFocus ? control.focusBorderColor
                                                             : control.hovered ? control.hoverBorderColor
                                                                               : control.borderColor
    }
}
