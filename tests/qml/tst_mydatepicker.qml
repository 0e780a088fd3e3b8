import QtQuick
import QtTest
import TarvikQml

TestCase {
    id: testCase

    name: "MyDatePicker"
    when: windowShown
    width: 400
    height: 400
    visible: true

    Component {
        id: pickerComponent

        MyDatePicker {
            locale: Qt.locale("en_EN")
        }
    }

    // The picker inside an item that records the keys the picker lets through.
    Component {
        id: hostComponent

        FocusScope {
            property alias picker: hostedPicker
            property var passedKeys: []

            width: 400
            height: 400

            Keys.onPressed: function(event) {
                passedKeys.push(event.key)
            }

            MyDatePicker {
                id: hostedPicker
            }
        }
    }

    Component {
        id: spyComponent

        SignalSpy {
            signalName: "dateSelected"
        }
    }

    function createPicker() {
        const picker = createTemporaryObject(pickerComponent, testCase)
        verify(picker)
        verify(waitForItemPolished(picker))
        return picker
    }

    function spyOn(picker) {
        return createTemporaryObject(spyComponent, testCase, { "target": picker })
    }

    function cells(picker) {
        const grid = picker.children[picker.children.length - 1]
        const found = []
        for (let i = 0; i < grid.contentItem.children.length; ++i) {
            if (grid.contentItem.children[i].day !== undefined)
                found.push(grid.contentItem.children[i])
        }
        return found
    }

    function cellFor(picker, year, month, day) {
        return cells(picker).find(c => c.year === year && c.month === month && c.day === day)
    }

    function compareDay(actual, year, month, day) {
        compare(actual.getFullYear(), year)
        compare(actual.getMonth(), month)
        compare(actual.getDate(), day)
        compare(actual.getHours(), 0)
        compare(actual.getMinutes(), 0)
        compare(actual.getSeconds(), 0)
        compare(actual.getMilliseconds(), 0)
    }

    function test_arrowKeys_data() {
        return [
            { tag: "left on the first of a month", start: new Date(2030, 2, 1, 15, 45),
              key: Qt.Key_Left, year: 2030, month: 1, day: 28 },
            { tag: "up on the third of January", start: new Date(2030, 0, 3, 9, 5),
              key: Qt.Key_Up, year: 2029, month: 11, day: 27 },
            { tag: "right on the last day of the year", start: new Date(2029, 11, 31),
              key: Qt.Key_Right, year: 2030, month: 0, day: 1 },
            { tag: "down across a month end", start: new Date(2030, 3, 28, 23, 59),
              key: Qt.Key_Down, year: 2030, month: 4, day: 5 },
            { tag: "left on the first of March in a leap year", start: new Date(2028, 2, 1),
              key: Qt.Key_Left, year: 2028, month: 1, day: 29 }
        ]
    }

    function test_arrowKeys(data) {
        const picker = createPicker()
        picker.selectDate(data.start)
        const spy = spyOn(picker)
        picker.forceActiveFocus()

        keyClick(data.key)

        compare(spy.count, 1)
        compareDay(spy.signalArguments[0][0], data.year, data.month, data.day)
        compareDay(picker.selectedDate, data.year, data.month, data.day)
        compare(picker.selectedTime, new Date(data.year, data.month, data.day).getTime())
        compare(picker.month, data.month)
        compare(picker.year, data.year)
    }

    function test_otherKeysPassOn() {
        const host = createTemporaryObject(hostComponent, testCase)
        host.picker.selectDate(new Date(2030, 5, 10))
        host.forceActiveFocus()
        verify(host.picker.activeFocus)

        keyClick(Qt.Key_Left)
        keyClick(Qt.Key_Space)
        keyClick(Qt.Key_A)

        compare(host.passedKeys, [Qt.Key_Space, Qt.Key_A])
        compareDay(host.picker.selectedDate, 2030, 5, 9)
    }

    function test_selectionIsLocalMidnight_data() {
        return [
            { tag: "late evening", value: new Date(2030, 5, 15, 23, 59, 59, 999) },
            { tag: "just after midnight", value: new Date(2030, 5, 15, 0, 0, 0, 1) },
            { tag: "milliseconds since the epoch", value: new Date(2030, 5, 15, 12).getTime() },
            { tag: "date-time text", value: "2030-06-15T12:30:00" }
        ]
    }

    function test_selectionIsLocalMidnight(data) {
        const picker = createPicker()
        const spy = spyOn(picker)

        picker.selectDate(data.value)

        compare(spy.count, 1)
        compareDay(spy.signalArguments[0][0], 2030, 5, 15)
        compare(picker.selectedTime, new Date(2030, 5, 15).getTime())
        compare(picker.month, 5)
        compare(picker.year, 2030)
    }

    function test_selectDateDoesNotChangeItsArgument() {
        const picker = createPicker()
        const value = new Date(2030, 5, 15, 18, 20)
        picker.selectDate(value)
        compare(value.getHours(), 18)
        compare(value.getMinutes(), 20)
    }

    function test_onlyTheSelectedCellIsHighlighted() {
        const picker = createPicker()
        picker.selectDate(new Date(2030, 0, 15, 10, 0))

        const selected = cells(picker).filter(c => c.selected)
        compare(selected.length, 1)
        compare(selected[0].day, 15)
        compare(selected[0].month, 0)
        const highlight = selected[0].children[0]
        verify(Qt.colorEqual(highlight.color, "#2a6df4"))
        compare(highlight.opacity, 0.35)
    }

    function test_neighbouringMonthDaysAreDimmed() {
        const picker = createPicker()
        picker.selectDate(new Date(2030, 0, 15))
        // January 2030 starts on a Tuesday, so the grid opens with days of December 2029.
        const before = cellFor(picker, 2029, 11, 31)
        const inside = cellFor(picker, 2030, 0, 2)
        verify(before)
        verify(inside)
        compare(before.children[1].opacity, 0.35)
        compare(inside.children[1].opacity, 1.0)
    }

    function test_tapOnNeighbouringMonthDay() {
        const picker = createPicker()
        picker.selectDate(new Date(2030, 0, 15))
        const spy = spyOn(picker)
        const cell = cellFor(picker, 2030, 1, 1)
        verify(cell)

        mouseClick(cell)

        compare(spy.count, 1)
        compareDay(spy.signalArguments[0][0], 2030, 1, 1)
        compare(picker.month, 1)
        compare(picker.year, 2030)
        verify(cellFor(picker, 2030, 1, 1).selected)
    }

    function test_monthNavigation_data() {
        return [
            { tag: "previous month in January", month: 0, year: 2030, forward: false,
              expectedMonth: 11, expectedYear: 2029 },
            { tag: "next month in December", month: 11, year: 2030, forward: true,
              expectedMonth: 0, expectedYear: 2031 },
            { tag: "previous month in June", month: 5, year: 2030, forward: false,
              expectedMonth: 4, expectedYear: 2030 },
            { tag: "next month in June", month: 5, year: 2030, forward: true,
              expectedMonth: 6, expectedYear: 2030 }
        ]
    }

    function test_monthNavigation(data) {
        const picker = createPicker()
        picker.selectDate(new Date(data.year, data.month, 10))
        const selectedTime = picker.selectedTime
        const spy = spyOn(picker)

        if (data.forward)
            picker.nextMonth()
        else
            picker.prevMonth()

        compare(picker.month, data.expectedMonth)
        compare(picker.year, data.expectedYear)
        compare(spy.count, 0)
        compare(picker.selectedTime, selectedTime)
    }

    function test_headerButtonsNavigate() {
        const picker = createPicker()
        picker.selectDate(new Date(2030, 0, 10))
        const header = picker.children[0]
        const title = header.children[1]
        compare(title.text, Qt.formatDateTime(new Date(2030, 0, 1), "MMMM yyyy"))

        mouseClick(header.children[0])
        compare(picker.month, 11)
        compare(picker.year, 2029)
        compare(title.text, Qt.formatDateTime(new Date(2029, 11, 1), "MMMM yyyy"))

        mouseClick(header.children[2])
        mouseClick(header.children[2])
        compare(picker.month, 1)
        compare(picker.year, 2030)
    }
}
