import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Universal

ApplicationWindow {
    id: window

    width: 1300
    height: 700
    visible: true
    title: "Task Manager"

    Universal.theme: Universal.Dark
    Universal.accent: Universal.Violet

    StackView {
        id: stack

        anchors.fill: parent
    }
}
