import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Universal

ApplicationWindow {
    id: window

    width: 1300
    height: 700
    minimumWidth: Theme.minimumWindowWidth
    minimumHeight: Theme.minimumWindowHeight
    visible: true
    title: "Task Manager"

    Universal.theme: Universal.Dark
    Universal.accent: Universal.Violet

    // "Show" on the toast or on a desktop notification: a tasks page already showing selects the
    // task and keeps whatever is being typed.
    function openTask(taskId) {
        window.showNormal()
        window.raise()
        window.requestActivate()
        const current = stack.currentItem
        if (current && current.objectName === "tasksPage")
            current.showTask(taskId)
        else
            stack.replace(Qt.resolvedUrl("TasksPage.qml"), {
                              "stackView": stack,
                              "focusTaskId": taskId
                          })
    }

    // Never larger than the screen's free area, never smaller than every page needs.
    Component.onCompleted: {
        if (Screen.desktopAvailableWidth > 0)
            window.width = Math.min(window.width, Screen.desktopAvailableWidth)
        if (Screen.desktopAvailableHeight > 0)
            window.height = Math.min(window.height, Screen.desktopAvailableHeight)
    }

    // The stack creates the first page itself, so it also destroys it when it is replaced.
    StackView {
        id: stack

        // The pages end above the reminders, which never cover a control.
        anchors.fill: parent
        anchors.bottomMargin: toasts.reservedHeight

        Component.onCompleted: stack.push(Qt.resolvedUrl("LoginPage.qml"), {
                                              "stackView": stack
                                          }, StackView.Immediate)
    }

    ToastStack {
        id: toasts

        parent: Overlay.overlay
        z: 9999

        onShowTask: function(taskId) {
            window.openTask(taskId)
        }
    }

    Connections {
        target: notifier

        function onTaskDueSoon(taskId, name, expireAtText) {
            toasts.addReminder(taskId, "Task expiring soon: " + name, "Expire at: " + expireAtText)
        }

        function onReminderWithdrawn(taskId) {
            toasts.removeTask(taskId)
        }
    }

    // "Show" on a desktop notification does what the toast's "Show" does.
    Connections {
        target: desktop

        function onMissedTasksFound(taskId, message, detail) {
            toasts.addNotice(taskId, message, detail)
        }

        function onShowTaskRequested(taskId) {
            notifier.stopSound()
            window.openTask(taskId)
        }
    }

    // A reminder belongs to the account it was announced for: it goes when that account signs out.
    Connections {
        target: auth

        function onLoggedOut() {
            toasts.clear()
        }
    }
}
