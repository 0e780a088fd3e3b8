import QtQuick
import QtQuick.Controls

Button {
    id: control

    property color baseColor: "#121212"
    property color disabledColor: "#2c2c34"

    implicitWidth: Math.max(100, textMetrics.width + 2 * control.padding)
    implicitHeight: 24
    padding: 12
    spacing: 8
    font.pixelSize: 14
    hoverEnabled: true

    Accessible.onPressAction: control.clicked()

    // The fill looks at the disabled state first; the border ignores it and lets hover win
    // over focus.
    background: Rectangle {
        radius: 0
        border.width: 1
        color: !control.enabled ? control.disabledColor
                                : control.pressed ? Qt.darker(control.baseColor, 1.2)
                                                  : control.hovered ? Qt.lighter(control.baseColor, 1.15)
                                                                    : control.baseColor
        border.color: control.hovered ? "#aeb8ff" : control.activeFocus ? "#7291ff" : "#ffffff"
    }

    contentItem: Text {
        text: control.text
        font: control.font
        color: control.enabled ? "white" : "#7f7f87"
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    TextMetrics {
        id: textMetrics

        font: control.font
        text: control.text
    }
}
