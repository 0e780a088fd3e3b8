import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Universal

ApplicationWindow {
    id: window

    width: 1300
    height: 700
    visible: true
    title: "Bare window"

    Universal.theme: Universal.Dark
    Universal.accent: Universal.Violet
}
