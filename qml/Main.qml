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

        anchors.fill: parent

        Component.onCompleted: stack.push(Qt.resolvedUrl("LoginPage.qml"), {
                                              "stackView": stack
                                          }, StackView.Immediate)
    }

    Toast {
        id: toast

        parent: Overlay.overlay
        z: 9999

        onActivated: function(taskId) {
            window.openTask(taskId)
        }
        onClosed: desktop.closeNotifications()
    }

    Connections {
        target: notifier

        function onTaskDueSoon(taskId, name, expireAtText) {
            toast.showToast(taskId, "Task expiring soon: " + name, "Expire at: " + expireAtText)
        }
    }

    // "Show" on a desktop notification does what the toast's "Show" does.
    Connections {
        target: desktop

        function onMissedTasksFound(taskId, message, detail) {
            toast.showToast(taskId, message, detail)
        }

        function onShowTaskRequested(taskId) {
            notifier.stopSound()
            toast.close()
            window.openTask(taskId)
        }
    }

    // A reminder belongs to the account it was announced for: it goes when that account signs out.
    Connections {
        target: auth

        function onLoggedOut() {
            toast.close()
        }
    }
}
