pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The "Repeat" part of the task dialog: how often a task comes again, until when, and whether
// the next time counts from the due date or from the completion. It reads and writes an RRULE
// value; a rule written by another program that these fields cannot show is kept as it came
// unless the person picks another.
ColumnLayout {
    id: fields

    // The due time the rule starts from: its weekday and day of the month.
    property var dueAt: null
    // Set once the person changed anything here.
    property bool edited: false
    property bool fromCompletion: fromBox.currentIndex === 1
    property string keptRule: ""
    readonly property bool repeats: presetBox.currentIndex !== 0
    readonly property var dayCodes: ["SU", "MO", "TU", "WE", "TH", "FR", "SA"]
    readonly property var dayNames: ["Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"]
    // The frequency the fields name: the preset's, or the unit of "Every N".
    readonly property string freq: ["", "DAILY", "WEEKLY", "WEEKLY", "MONTHLY", "YEARLY",
                                    ["DAILY", "WEEKLY", "MONTHLY", "YEARLY"][unitBox.currentIndex]]
                                   [presetBox.currentIndex]
    readonly property var due: fields.dueAt ? fields.dueAt : new Date()
    readonly property int weekOfMonth: Math.floor((fields.due.getDate() - 1) / 7) + 1
    readonly property bool lastWeekOfMonth:
        new Date(fields.due.getFullYear(), fields.due.getMonth(), fields.due.getDate() + 7)
        .getMonth() !== fields.due.getMonth()

    // Shows rrule; kept as it is until the person changes a field.
    function load(rrule, fromCompletionToo) {
        const parts = {}
        for (const part of String(rrule || "").split(";")) {
            const at = part.indexOf("=")
            if (at > 0)
                parts[part.slice(0, at).toUpperCase()] = part.slice(at + 1).toUpperCase()
        }
        const interval = parseInt(parts.INTERVAL || "1")
        const days = parts.BYDAY ? parts.BYDAY.split(",") : []
        const units = ["DAILY", "WEEKLY", "MONTHLY", "YEARLY"]
        let preset = 0
        if (parts.FREQ && interval > 1)
            preset = 6
        else if (parts.FREQ === "DAILY")
            preset = 1
        else if (parts.FREQ === "WEEKLY")
            preset = days.join(",") === "MO,TU,WE,TH,FR" ? 2 : 3
        else if (parts.FREQ)
            preset = parts.FREQ === "MONTHLY" ? 4 : 5
        presetBox.currentIndex = preset
        unitBox.currentIndex = Math.max(0, units.indexOf(parts.FREQ || "DAILY"))
        intervalBox.value = Math.max(2, interval)
        for (let i = 0; i < 7; ++i)
            dayRepeater.itemAt(i).checked = days.indexOf(fields.dayCodes[(i + 1) % 7]) >= 0
        monthBox.currentIndex = days.length > 0 ? 1 : 0
        endBox.currentIndex = parts.COUNT ? 2 : parts.UNTIL ? 1 : 0
        countBox.value = parseInt(parts.COUNT || "10")
        untilField.text = parts.UNTIL ? parts.UNTIL.slice(0, 4) + "-" + parts.UNTIL.slice(4, 6)
                                        + "-" + parts.UNTIL.slice(6, 8) : ""
        fromBox.currentIndex = fromCompletionToo ? 1 : 0
        fields.keptRule = String(rrule || "")
        fields.edited = false
    }

    // The RRULE value the fields say; empty for "Never", undefined when the end date is no date.
    function rule() {
        if (!fields.edited)
            return fields.keptRule
        if (!fields.repeats)
            return ""
        let text = "FREQ=" + fields.freq
        if (presetBox.currentIndex === 6)
            text += ";INTERVAL=" + intervalBox.value
        if (presetBox.currentIndex === 2) {
            text += ";BYDAY=MO,TU,WE,TH,FR"
        } else if (fields.freq === "WEEKLY") {
            const days = []
            for (let i = 0; i < 7; ++i) {
                if (dayRepeater.itemAt(i).checked)
                    days.push(fields.dayCodes[(i + 1) % 7])
            }
            text += ";BYDAY=" + (days.length ? days : [fields.dayCodes[fields.due.getDay()]]).join(",")
        } else if (fields.freq === "MONTHLY") {
            text += monthBox.currentIndex === 0
                    ? ";BYMONTHDAY=" + fields.due.getDate()
                    : ";BYDAY=" + (fields.lastWeekOfMonth ? -1 : fields.weekOfMonth)
                      + fields.dayCodes[fields.due.getDay()]
        }
        if (endBox.currentIndex === 2)
            text += ";COUNT=" + countBox.value
        if (endBox.currentIndex === 1) {
            const m = /^(\d{4})-(\d{2})-(\d{2})$/.exec(untilField.text.trim())
            const end = m ? new Date(+m[1], +m[2] - 1, +m[3], 23, 59, 59) : null
            if (!end || isNaN(end.getTime()))
                return undefined
            text += ";UNTIL=" + end.toISOString().replace(/[-:]/g, "").replace(/\.\d+/, "")
        }
        return text
    }

    spacing: 6

    RowLayout {
        Label {
            text: "Repeat"
        }

        ChoiceBox {
            id: presetBox

            objectName: "repeatBox"
            Layout.fillWidth: true
            model: ["Never", "Every day", "Every weekday", "Every week", "Every month",
                    "Every year", "Every N days, weeks, months or years"]
            Accessible.name: "Repeat"
            onActivated: fields.edited = true
        }
    }

    RowLayout {
        visible: presetBox.currentIndex === 6

        Label {
            text: "Every"
        }

        SpinBox {
            id: intervalBox

            objectName: "repeatInterval"
            from: 2
            to: 999
            editable: true
            Accessible.name: "Repeat interval"
            onValueModified: fields.edited = true
        }

        ChoiceBox {
            id: unitBox

            objectName: "repeatUnit"
            model: ["days", "weeks", "months", "years"]
            Accessible.name: "Repeat unit"
            onActivated: fields.edited = true
        }
    }

    RowLayout {
        visible: fields.freq === "WEEKLY" && presetBox.currentIndex !== 2
        spacing: 2

        Repeater {
            id: dayRepeater

            model: 7

            CheckBox {
                required property int index

                // Monday first, as the week is shown.
                objectName: "repeatDay" + index
                text: fields.dayNames[(index + 1) % 7]
                Accessible.name: "Repeat on " + text
                onToggled: fields.edited = true
            }
        }
    }

    ChoiceBox {
        id: monthBox

        objectName: "repeatMonthly"
        Layout.fillWidth: true
        visible: fields.freq === "MONTHLY"
        model: ["On day " + fields.due.getDate(),
                "On the " + (fields.lastWeekOfMonth ? "last"
                             : ["first", "second", "third", "fourth"][fields.weekOfMonth - 1])
                + " " + Qt.locale().dayName(fields.due.getDay(), Locale.LongFormat)]
        Accessible.name: "Repeat monthly"
        onActivated: fields.edited = true
    }

    RowLayout {
        visible: fields.repeats

        Label {
            text: "Ends"
        }

        ChoiceBox {
            id: endBox

            objectName: "repeatEnd"
            model: ["Never", "On a date", "After a number of times"]
            Accessible.name: "Repeat ends"
            onActivated: fields.edited = true
        }

        TextField {
            id: untilField

            objectName: "repeatUntil"
            visible: endBox.currentIndex === 1
            Layout.fillWidth: true
            placeholderText: "YYYY-MM-DD"
            Accessible.name: "Last date"
            onTextEdited: fields.edited = true
        }

        SpinBox {
            id: countBox

            objectName: "repeatCount"
            visible: endBox.currentIndex === 2
            from: 1
            to: 9999
            editable: true
            Accessible.name: "Number of times"
            onValueModified: fields.edited = true
        }
    }

    RowLayout {
        visible: fields.repeats

        Label {
            text: "Repeat from"
        }

        ChoiceBox {
            id: fromBox

            objectName: "repeatFrom"
            Layout.fillWidth: true
            model: ["due date", "completion"]
            Accessible.name: "Repeat from"
            onActivated: fields.edited = true
        }
    }
}
