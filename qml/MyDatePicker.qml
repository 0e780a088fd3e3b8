import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// This qmllint knows no type for a control's locale, so the lines that name it carry markers.
ColumnLayout { // qmllint disable alias
    id: picker

    property alias month: grid.month
    property alias year: grid.year
    property alias locale: grid.locale
    property var selectedTime: Date.now()
    property date selectedDate: new Date(picker.selectedTime)

    signal dateSelected(date d)

    function _toJsDate(d) {
        return d instanceof Date ? new Date(d.getTime()) : new Date(d)
    }

    // The selection is the local midnight of the chosen day, so comparisons ignore the time.
    function selectDate(d) {
        const js = picker._toJsDate(d)
        js.setHours(0, 0, 0, 0)
        picker.selectedTime = js.getTime()
        picker.selectedDate = new Date(picker.selectedTime)
        picker.month = js.getMonth()
        picker.year = js.getFullYear()
        picker.dateSelected(picker.selectedDate)
    }

    function prevMonth() {
        if (picker.month === 0) {
            picker.month = 11
            picker.year = picker.year - 1
        } else {
            picker.month = picker.month - 1
        }
    }

    function nextMonth() {
        if (picker.month === 11) {
            picker.month = 0
            picker.year = picker.year + 1
        } else {
            picker.month = picker.month + 1
        }
    }

    function shiftDay(delta) {
        const d = new Date(picker.selectedDate.getTime())
        d.setDate(d.getDate() + delta)
        picker.selectDate(d)
    }

    focus: true

    // The four arrow keys move the selection and go no further; every other key passes on.
    Keys.onPressed: function(event) {
        switch (event.key) {
        case Qt.Key_Left:
            picker.shiftDay(-1)
            break
        case Qt.Key_Right:
            picker.shiftDay(1)
            break
        case Qt.Key_Up:
            picker.shiftDay(-7)
            break
        case Qt.Key_Down:
            picker.shiftDay(7)
            break
        default:
            event.accepted = false
            return
        }
        event.accepted = true
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 8

        ToolButton {
            text: "\u25C0"

            onClicked: picker.prevMonth()
        }

        Label {
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: Qt.formatDateTime(new Date(picker.year, picker.month, 1), "MMMM yyyy")
            color: "white"
            font.pixelSize: 14
        }

        ToolButton {
            text: "\u25B6"

            onClicked: picker.nextMonth()
        }
    }

    DayOfWeekRow {
        Layout.fillWidth: true
        locale: picker.locale // qmllint disable type

        // The row's own delegate paints in the light palette's text colour, which is unreadable
        // on the dark popup; a Label follows the window's dark theme.
        delegate: Label {
            required property string shortName

            text: shortName
            font.bold: true
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    MonthGrid {
        id: grid

        Layout.fillWidth: true

        // The grid's own date of a cell is the start of that day in UTC with this Qt, so the
        // cell builds its local midnight from its year, month and day instead.
        // (The cells reach the picker by its id; this qmllint does not see ids across the
        // delegate's component boundary, hence the markers.)
        delegate: Item {
            id: cell

            required property int year
            required property int month
            required property int day

            readonly property double time: new Date(cell.year, cell.month, cell.day).getTime()
            readonly property bool selected: cell.time === picker.selectedTime // qmllint disable unqualified

            implicitWidth: 40
            implicitHeight: 34

            Rectangle {
                anchors.fill: parent
                radius: 6
                color: cell.selected ? "#2a6df4" : "transparent"
                opacity: cell.selected ? 0.35 : 1.0
            }

            Label {
                anchors.centerIn: parent
                text: cell.day
                color: "white"
                opacity: cell.month === picker.month ? 1.0 : 0.35 // qmllint disable unqualified
            }

            TapHandler {
                onTapped: picker.selectDate(new Date(cell.year, cell.month, cell.day)) // qmllint disable unqualified
            }
        }
    }
}
