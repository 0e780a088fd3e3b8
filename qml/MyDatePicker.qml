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
    // The selected day by its calendar fields: days are told apart by these, never by an
    // instant, because some days have no midnight (summer time starting at 00:00).
    property int selectedYear: -1
    property int selectedMonth: -1
    property int selectedDay: -1

    signal dateSelected(date d)

    function _toJsDate(d) {
        return d instanceof Date ? new Date(d.getTime()) : new Date(d)
    }

    // The instant the clock shows as this local time; a time the clock skips, when summer
    // time starts, becomes the first minute after the gap.
    function momentOf(year, month, day, hours, minutes) {
        const wanted = Date.UTC(year, month, day, hours, minutes)
        const wallClock = t => t - new Date(t).getTimezoneOffset() * 60000
        const guess = new Date(year, month, day, hours, minutes).getTime()
        if (wallClock(guess) === wanted)
            return new Date(guess)
        let t = guess - 3 * 3600000
        while (wallClock(t) < wanted)
            t += 60000
        return new Date(t)
    }

    function isSelected(year, month, day) {
        return day === picker.selectedDay && month === picker.selectedMonth
                && year === picker.selectedYear
    }

    // Selects the day of d as the local calendar shows it.
    function selectDate(d) {
        const js = picker._toJsDate(d)
        picker.selectDay(js.getFullYear(), js.getMonth(), js.getDate())
    }

    function selectDay(year, month, day) {
        picker.selectedYear = year
        picker.selectedMonth = month
        picker.selectedDay = day
        picker.selectedTime = picker.momentOf(year, month, day, 0, 0).getTime()
        picker.selectedDate = new Date(picker.selectedTime)
        picker.month = month
        picker.year = year
        picker.dateSelected(picker.selectedDate)
    }

    // A day as a screen reader speaks it, e.g. "Monday 7 December 2026".
    function spokenDay(year, month, day) {
        return year < 0 ? "" : Qt.formatDate(new Date(year, month, day, 12), "dddd d MMMM yyyy")
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

    // Calendar arithmetic on the day's fields, free of any time zone: a UTC day is 24 hours.
    function shiftDay(delta) {
        const from = picker.selectedYear >= 0
                ? Date.UTC(picker.selectedYear, picker.selectedMonth, picker.selectedDay)
                : Date.UTC(picker.selectedDate.getFullYear(), picker.selectedDate.getMonth(),
                           picker.selectedDate.getDate())
        const d = new Date(from + delta * 86400000)
        picker.selectDay(d.getUTCFullYear(), d.getUTCMonth(), d.getUTCDate())
    }

    focus: true

    // The picker keeps the focus while the arrows move the day: its name is the selected day.
    Accessible.role: Accessible.Table
    Accessible.name: picker.spokenDay(picker.selectedYear, picker.selectedMonth, picker.selectedDay)
    Accessible.description: "Arrow keys change the day"

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

            Accessible.name: "Previous month"
            Accessible.onPressAction: picker.prevMonth()
            onClicked: picker.prevMonth()
        }

        Label {
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: Qt.formatDateTime(new Date(picker.year, picker.month, 1), "MMMM yyyy")
            color: Theme.text
            font.pixelSize: 14
        }

        ToolButton {
            text: "\u25B6"

            Accessible.name: "Next month"
            Accessible.onPressAction: picker.nextMonth()
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

        // A cell is its year, month and day; the grid's own date of a cell is the start of that
        // day in UTC with this Qt. (The grid sets properties on the delegate's context, which
        // a bound component refuses; this qmllint does not see ids across the boundary, hence
        // the markers.)
        delegate: Item {
            id: cell

            required property int year
            required property int month
            required property int day

            readonly property bool selected: picker.isSelected(cell.year, cell.month, cell.day) // qmllint disable unqualified

            implicitWidth: 40
            implicitHeight: 34

            Accessible.role: Accessible.Cell
            Accessible.name: picker.spokenDay(cell.year, cell.month, cell.day) // qmllint disable unqualified
            Accessible.selected: cell.selected
            Accessible.onPressAction: picker.selectDay(cell.year, cell.month, cell.day) // qmllint disable unqualified

            Rectangle {
                anchors.fill: parent
                radius: 6
                color: cell.selected ? Theme.selectedDay : "transparent"
                opacity: cell.selected ? 0.35 : 1.0
            }

            Label {
                anchors.centerIn: parent
                text: cell.day
                color: Theme.text
                opacity: cell.month === picker.month ? 1.0 : 0.35 // qmllint disable unqualified

                Accessible.ignored: true
            }

            TapHandler {
                onTapped: picker.selectDay(cell.year, cell.month, cell.day) // qmllint disable unqualified
            }
        }
    }
}
