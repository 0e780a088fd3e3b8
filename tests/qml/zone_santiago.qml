import QtQuick
import QtTest
import TarvikQml

// Runs on its own with TZ=America/Santiago (its name keeps it out of the tst_*.qml run), where
// 5 September 2027 starts at 01:00: the clock skips midnight when summer time begins.
TestCase {
    id: testCase

    name: "Santiago"
    when: windowShown
    width: 600
    height: 600
    visible: true

    Component {
        id: popupComponent

        DueTimePopup {}
    }

    SignalSpy {
        id: picks

        signalName: "picked"
    }

    function test_keysReachTheDayWithoutMidnight_data() {
        return [
            { tag: "right from the day before", start: [4, 9, 5], keys: [Qt.Key_Right], time: [9, 5] },
            { tag: "left from the day after", start: [6, 9, 5], keys: [Qt.Key_Left], time: [9, 5] },
            { tag: "down from a week before", start: [-2, 9, 5], keys: [Qt.Key_Down], time: [9, 5] },
            { tag: "right and back left", start: [4, 9, 5],
              keys: [Qt.Key_Right, Qt.Key_Right, Qt.Key_Left], time: [9, 5] },
            { tag: "a skipped time becomes the first minute after", start: [4, 0, 30],
              keys: [Qt.Key_Right], time: [1, 0] },
            { tag: "hour up from the skipped hour", start: [4, 0, 30], keys: [Qt.Key_Right],
              hourUp: true, time: [1, 30] }
        ]
    }

    function test_keysReachTheDayWithoutMidnight(data) {
        const due = new Date(2027, 8, ...data.start)
        const popup = createTemporaryObject(popupComponent, testCase, { "dueAt": due })
        picks.target = popup
        picks.clear()
        popup.open()
        tryCompare(popup, "opened", true)

        for (const key of data.keys)
            keyClick(key)
        if (data.hourUp)
            keyClick(Qt.Key_Up, Qt.ControlModifier)
        keyClick(Qt.Key_Return)

        compare(picks.count, 1)
        const moment = picks.signalArguments[0][0]
        compare([moment.getFullYear(), moment.getMonth(), moment.getDate()], [2027, 8, 5])
        compare([moment.getHours(), moment.getMinutes()], data.time)
    }
}
