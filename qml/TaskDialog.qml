import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Creates or edits one task. The due moment is picked in the due-time popup; a save the
// service refuses keeps the dialog open with everything typed.
Dialog {
    id: taskDialog

    property string editMode: "create"
    property double editingId: -1
    property var expireAtLocal: null
    // An edited task that came without a due time (from a server or an import) may stay so.
    property bool mayHaveNoDueTime: false

    signal dismissed

    function openForCreate() {
        taskDialog.editMode = "create"
        taskDialog.editingId = -1
        nameField.text = ""
        activeCheck.checked = false
        taskDialog.expireAtLocal = null
        taskDialog.mayHaveNoDueTime = false
        repeatFields.load("", false)
        detailsFields.reset()
        reminderChoice.load(-2)
        taskDialog.open()
    }

    function openForEdit(id, name, done, expireAt) {
        taskDialog.editMode = "edit"
        taskDialog.editingId = id
        nameField.text = name
        activeCheck.checked = done
        // A task saved without a due time comes back as an invalid date.
        taskDialog.expireAtLocal = expireAt && !isNaN(expireAt.getTime()) ? new Date(expireAt)
                                                                          : null
        taskDialog.mayHaveNoDueTime = taskDialog.expireAtLocal === null
        const repeat = taskService.repeatOf(id)
        repeatFields.load(repeat.rrule, repeat.fromCompletion)
        detailsFields.load(taskService.taskDetails(id))
        reminderChoice.load(taskService.reminderLead(id))
        taskDialog.open()
    }

    function focusName() {
        nameField.forceActiveFocus()
    }

    // The due time travels as UTC text, or as an invalid date for a task kept without one; the
    // name goes as typed and the service trims it. The message names what is missing, and the
    // first missing field takes the focus.
    function submit() {
        dlgErr.text = ""
        const noName = nameField.text.trim() === ""
        const noDueTime = !taskDialog.expireAtLocal && !taskDialog.mayHaveNoDueTime
        if (noName || noDueTime) {
            dlgErr.text = "all fields are required: " + (noName && noDueTime ? "task name, due time"
                                                         : noName ? "task name" : "due time")
            if (noName)
                nameField.forceActiveFocus()
            else
                expireField.forceActiveFocus()
            return
        }
        const rule = repeatFields.rule()
        if (rule === undefined || (rule !== "" && !taskDialog.expireAtLocal)) {
            dlgErr.text = rule === undefined ? "the last date is not a date (YYYY-MM-DD)"
                                             : "a repeating task needs a due time"
            return
        }
        const dueAt = taskDialog.expireAtLocal ? taskDialog.expireAtLocal.toISOString()
                                               : new Date(NaN)
        // The rule comes first, so that Done moves the task to the occurrence it names.
        const create = taskDialog.editMode === "create"
        let saved = create || !repeatFields.edited
                || taskService.setRepeat(taskDialog.editingId, rule, repeatFields.fromCompletion)
        saved = saved && (create ? taskService.createTask(nameField.text, dueAt, activeCheck.checked)
                                 : taskService.updateTask(taskDialog.editingId, nameField.text,
                                                          activeCheck.checked, dueAt))
        if (saved && create && rule !== "")
            saved = taskService.setRepeat(taskService.lastCreatedId(), rule,
                                          repeatFields.fromCompletion)
        if (!saved) {
            dlgErr.text = taskService.fileInUse
                    ? "could not save the task: the task file is in use by another program"
                    : "could not save the task"
            return
        }
        const taskId = taskDialog.editMode === "create" ? taskService.lastCreatedId()
                                                        : taskDialog.editingId
        if (!detailsFields.save(taskId)) {
            // The task itself is saved: a second Save edits it.
            taskDialog.editMode = "edit"
            taskDialog.editingId = taskId
            dlgErr.text = "could not save the notes, priority and tags"
            return
        }
        if (!reminderChoice.save(taskId)) {
            taskDialog.editMode = "edit"
            taskDialog.editingId = taskId
            dlgErr.text = "could not save the reminder"
            return
        }
        taskDialog.close()
    }

    function dismiss() {
        taskDialog.close()
        taskDialog.dismissed()
    }

    objectName: "taskDialog"
    anchors.centerIn: parent
    width: 470
    modal: true
    title: taskDialog.editMode === "create" ? "New Task" : "Edit Task"

    Component.onCompleted: nameField.forceActiveFocus()
    // Every opening starts without the message of an earlier attempt.
    onAboutToShow: dlgErr.text = ""

    ColumnLayout {
        width: 420
        spacing: 10

        TextField {
            id: nameField

            objectName: "nameField"
            Layout.fillWidth: true
            placeholderText: "Task name"

            Accessible.name: "Task name"
        }

        TextField {
            id: expireField

            objectName: "expireField"
            Layout.fillWidth: true
            readOnly: true
            placeholderText: "Expire at (pick date & time)"
            text: taskDialog.expireAtLocal
                  ? Qt.formatDateTime(taskDialog.expireAtLocal, "yyyy-MM-dd HH:mm")
                  : taskDialog.mayHaveNoDueTime ? "No due time" : ""

            Accessible.name: "Due time"
            Accessible.description: "Space, Down or Ctrl+G picks the date and time"
            // Space, Down and Alt+Down open the picker; Return does too, through the dialog's
            // Return shortcut.
            Keys.onPressed: function(event) {
                const plain = event.modifiers === Qt.NoModifier
                const alt = event.modifiers === Qt.AltModifier
                if ((event.key === Qt.Key_Space && plain)
                        || (event.key === Qt.Key_Down && (plain || alt))) {
                    expirePicker.open()
                    event.accepted = true
                }
            }

            MouseArea {
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: expirePicker.open()
            }
        }

        RepeatFields {
            id: repeatFields

            Layout.fillWidth: true
            dueAt: taskDialog.expireAtLocal
        }

        CheckBox {
            id: activeCheck

            objectName: "activeCheck"
            text: "Done"
        }

        TaskDetailsFields {
            id: detailsFields

            Layout.fillWidth: true
        }

        ReminderChoice {
            id: reminderChoice

            Layout.fillWidth: true
        }

        StatusLabel {
            id: dlgErr

            objectName: "dlgErr"
            Layout.fillWidth: true
            color: Theme.error
            wrapMode: Text.Wrap
        }

        RowLayout {
            ActionButton {
                objectName: "saveButton"
                text: "Save"
                onClicked: taskDialog.submit()
            }

            ActionButton {
                id: closeButton

                objectName: "closeButton"
                text: "Close"
                onClicked: taskDialog.dismiss()
            }
        }
    }

    // Centred on the page, like the dialog itself.
    DueTimePopup {
        id: expirePicker

        parent: taskDialog.parent
        dueAt: taskDialog.expireAtLocal
        offersNoDueTime: taskDialog.mayHaveNoDueTime
        onPicked: function(moment) {
            taskDialog.expireAtLocal = moment
        }
        onNoDueTimePicked: taskDialog.expireAtLocal = null
    }

    // Return saves, unless the focused button is Close, which closes as a click would, or the
    // focused due-time field, which opens the picker. While the picker is open, Return belongs
    // to it.
    Shortcut {
        sequence: "Return"
        enabled: taskDialog.visible && !expirePicker.visible && !detailsFields.notesFocused
        onActivated: {
            if (closeButton.activeFocus)
                taskDialog.dismiss()
            else if (expireField.activeFocus)
                expirePicker.open()
            else
                taskDialog.submit()
        }
    }

    Shortcut {
        sequence: "Ctrl+g"
        enabled: taskDialog.visible
        onActivated: {
            if (expirePicker.opened)
                expirePicker.close()
            else
                expirePicker.open()
        }
    }

    Shortcut {
        sequence: "Ctrl+d"
        context: Qt.ApplicationShortcut
        enabled: taskDialog.visible
        onActivated: activeCheck.toggle()
    }
}
