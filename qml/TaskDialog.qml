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

    signal dismissed

    function openForCreate() {
        taskDialog.editMode = "create"
        taskDialog.editingId = -1
        nameField.text = ""
        activeCheck.checked = false
        taskDialog.expireAtLocal = null
        detailsFields.reset()
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
        detailsFields.load(taskService.taskDetails(id))
        taskDialog.open()
    }

    function focusName() {
        nameField.forceActiveFocus()
    }

    // The due time travels as UTC text; the name goes as typed and the service trims it.
    function submit() {
        dlgErr.text = ""
        if (nameField.text.trim() === "" || !taskDialog.expireAtLocal) {
            dlgErr.text = "all fields are required"
            return
        }
        const expireText = taskDialog.expireAtLocal.toISOString()
        const saved = taskDialog.editMode === "create"
                ? taskService.createTask(nameField.text, expireText, activeCheck.checked)
                : taskService.updateTask(taskDialog.editingId, nameField.text,
                                         activeCheck.checked, expireText)
        if (!saved) {
            dlgErr.text = "could not save the task"
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
                  ? Qt.formatDateTime(taskDialog.expireAtLocal, "yyyy-MM-dd HH:mm") : ""

            Accessible.name: "Due time"
            Accessible.description: "Ctrl+G picks the date and time"

            MouseArea {
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: expirePicker.open()
            }
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
        onPicked: function(moment) {
            taskDialog.expireAtLocal = moment
        }
    }

    // Return saves, unless the focused button is Close: then it closes, as a click would.
    // While the due-time popup is open, Return belongs to the popup.
    Shortcut {
        sequence: "Return"
        enabled: taskDialog.visible && !expirePicker.visible && !detailsFields.notesFocused
        onActivated: {
            if (closeButton.activeFocus)
                taskDialog.dismiss()
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
