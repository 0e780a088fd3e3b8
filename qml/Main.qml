import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Universal

ApplicationWindow {
    id: window

    width: 1300
    height: 700
    visible: true
    title: "Task Manager"

    Universal.theme: Universal.Dark
    Universal.accent: Universal.Violet

    function openTask(taskId) {
        window.showNormal()
        window.raise()
        window.requestActivate()
        stack.replace(Qt.resolvedUrl("TasksPage.qml"), {
                          "stackView": stack,
                          "focusTaskId": taskId
                      })
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
