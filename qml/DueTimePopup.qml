import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Composes a due moment from a day of the calendar and an hour and minute. The day and the
// time stay separate until OK, so every day and every time of day can be chosen, also where
// the clock skips an hour.
Popup {
    id: expirePicker

    property var dueAt: null
    // Offered only for a task that already has no due time; a new task needs one.
    property bool offersNoDueTime: false

    signal picked(date moment)
    signal noDueTimePicked

    // A number typed into a spin box counts even when OK comes before the box lost focus.
    function commitTypedTime(box) {
        const typed = parseInt(box.contentItem.text, 10)
        if (!isNaN(typed))
            box.value = typed
    }

    function stepHours(delta) {
        const hours = hh.value + delta
        if (hours >= 0 && hours <= 23)
            hh.value = hours
    }

    function stepMinutes(delta) {
        const minutes = mm.value + delta
        if (minutes >= 0 && minutes <= 59)
            mm.value = minutes
    }

    // Moves the time of day, carrying into the hour and stopping at either end of the day.
    function moveTime(minutes) {
        expirePicker.commitTypedTime(hh)
        expirePicker.commitTypedTime(mm)
        const moved = Math.max(0, Math.min(23 * 60 + 59, hh.value * 60 + mm.value + minutes))
        hh.value = Math.floor(moved / 60)
        mm.value = moved % 60
    }

    function take() {
        expirePicker.commitTypedTime(hh)
        expirePicker.commitTypedTime(mm)
        expirePicker.picked(datePicker.momentOf(datePicker.selectedYear, datePicker.selectedMonth,
                                                datePicker.selectedDay, hh.value, mm.value))
        expirePicker.close()
    }

    objectName: "expirePicker"
    anchors.centerIn: parent
    width: 420
    padding: 12
    modal: true
    focus: true

    background: Rectangle {
        color: Theme.popupFill
        radius: 12
        border.color: Theme.popupBorder
    }

    onAboutToShow: {
        const start = expirePicker.dueAt ? new Date(expirePicker.dueAt) : new Date()
        hh.value = start.getHours()
        mm.value = start.getMinutes()
        datePicker.selectDate(start)
    }
    // The arrow keys move the day at every opening, whatever had the focus when it closed.
    onOpened: datePicker.forceActiveFocus()

    // A popup takes no accessible name in this Qt, so its content carries it.
    ColumnLayout {
        anchors.fill: parent
        spacing: 10

        Accessible.role: Accessible.Grouping
        Accessible.name: "Due time"

        MyDatePicker {
            id: datePicker

            objectName: "datePicker"
            Layout.fillWidth: true
            // This qmllint knows no type for a control's locale.
            locale: Qt.locale("en_EN") // qmllint disable type
        }

        RowLayout {
            spacing: 10

            Label {
                text: "Time:"
                color: Theme.text
            }

            SpinBox {
                id: hh

                objectName: "hh"
                from: 0
                to: 23
                editable: true

                Accessible.name: "Hour"
            }

            Label {
                text: ":"
                color: Theme.text

                Accessible.ignored: true
            }

            SpinBox {
                id: mm

                objectName: "mm"
                from: 0
                to: 59
                editable: true

                Accessible.name: "Minute"
            }

            Item {
                Layout.fillWidth: true
            }

            ActionButton {
                id: cancelButton

                text: "Cancel"
                onClicked: expirePicker.close()
            }

            ActionButton {
                text: "OK"
                onClicked: expirePicker.take()
            }
        }

        ActionButton {
            objectName: "noDueTimeButton"
            Layout.alignment: Qt.AlignRight
            visible: expirePicker.offersNoDueTime
            text: "No due time"
            onClicked: {
                expirePicker.noDueTimePicked()
                expirePicker.close()
            }
        }
    }

    // Return on the focused Cancel button cancels; anywhere else it takes the moment.
    Shortcut {
        sequence: "Return"
        enabled: expirePicker.visible
        onActivated: {
            if (cancelButton.activeFocus)
                expirePicker.close()
            else
                expirePicker.take()
        }
    }

    Shortcut {
        sequence: "Ctrl+Up"
        enabled: expirePicker.visible
        onActivated: expirePicker.stepHours(1)
    }

    Shortcut {
        sequence: "Ctrl+Down"
        enabled: expirePicker.visible
        onActivated: expirePicker.stepHours(-1)
    }

    Shortcut {
        sequence: "Ctrl+Right"
        enabled: expirePicker.visible
        onActivated: expirePicker.stepMinutes(1)
    }

    Shortcut {
        sequence: "Ctrl+Left"
        enabled: expirePicker.visible
        onActivated: expirePicker.stepMinutes(-1)
    }

    Shortcut {
        sequence: "PgUp"
        enabled: expirePicker.visible
        onActivated: expirePicker.moveTime(15)
    }

    Shortcut {
        sequence: "PgDown"
        enabled: expirePicker.visible
        onActivated: expirePicker.moveTime(-15)
    }
}
