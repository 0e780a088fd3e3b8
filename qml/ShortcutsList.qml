import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The keyboard shortcuts of the task table and the task form, as the settings list them.
ColumnLayout {
    id: shortcutsList

    spacing: 10

    Label {
        text: "Shortcuts task table"
        font.pointSize: 14
    }

    Flow {
        Layout.fillWidth: true
        spacing: 10

        Repeater {
            model: ["ctrl+f: search", "ctrl+n: new", "ctrl+e: edit", "delete: delete",
                "ctrl+z: undo", "ctrl+l: logout", "home: first page", "end: last page",
                "up arrow: previous task", "down arrow: next task",
                "right arrow: next page", "left arrow: previous page"]

            Label {
                required property string modelData

                text: modelData
            }
        }
    }

    Label {
        Layout.topMargin: 16
        text: "Shortcuts task form"
        font.pointSize: 14
    }

    Flow {
        Layout.fillWidth: true
        spacing: 10

        Repeater {
            model: ["return: save", "esc: taks/calendar dialog", "ctrl+d: toggle done",
                "ctrl+g: pick date & time", "space, down: pick date & time",
                "arrows: change calendar day", "ctrl+up/down: change calendar hour",
                "ctrl+right/left: change calendar minute",
                "page up/down: 15 minutes later/earlier",
                "ctrl+shift+s/d: show/dismiss reminder"]

            Label {
                required property string modelData

                text: modelData
            }
        }
    }
}
