import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The task dialog's "Remind me": the account's lead time, none, at the due time or a while
// before it. A lead another program set that is not among the choices is offered as it is.
RowLayout {
    id: reminder

    // Minutes before the due time; -1 none; -2 the account's lead time.
    readonly property var leads: [-2, -1, 0, 5, 10, 15, 30, 60, 1440]
    property int otherLead: -3
    readonly property int lead: reminderBox.currentIndex < reminder.leads.length
                                ? reminder.leads[reminderBox.currentIndex] : reminder.otherLead

    function describe(minutes) {
        if (minutes === -2)
            return "Default (" + reminder.describe(settings.notifyMinutes) + ")"
        if (minutes === -1)
            return "No reminder"
        if (minutes === 0)
            return "At due time"
        if (minutes % 1440 === 0)
            return minutes === 1440 ? "1 day before" : (minutes / 1440) + " days before"
        if (minutes % 60 === 0)
            return minutes === 60 ? "1 hour before" : (minutes / 60) + " hours before"
        return minutes === 1 ? "1 minute before" : minutes + " minutes before"
    }

    function load(minutes) {
        const at = reminder.leads.indexOf(minutes)
        reminder.otherLead = at < 0 ? minutes : -3
        reminderBox.currentIndex = at < 0 ? reminder.leads.length : at
    }

    // Saves it for the task; false when the service refused.
    function save(taskId) {
        return taskService.setReminderLead(taskId, reminder.lead)
    }

    spacing: 10

    Label {
        text: "Remind me"
        color: Theme.text
    }

    ChoiceBox {
        id: reminderBox

        objectName: "reminderChoice"
        Layout.fillWidth: true
        model: reminder.leads.concat(reminder.otherLead >= 0 ? [reminder.otherLead] : [])
                       .map(minutes => reminder.describe(minutes))

        Accessible.name: "Remind me"
    }
}
