import QtQuick
import QtQuick.Controls
import QtTest
import TarvikQml
import "items.js" as Items

TestCase {
    id: testCase

    name: "Toast"
    when: windowShown
    width: 800
    height: 600
    visible: true

    Component {
        id: mainComponent

        Main {}
    }

    Component {
        id: pageComponent

        TasksPage {}
    }

    function initTestCase() {
        verify(auth.registerUser("reminded", "reminded-password", "Reminded Person"))
    }

    function cleanup() {
        auth.logout()
    }

    function toastsOf(window) {
        for (let i = 0; i < window.contentData.length; ++i) {
            if (window.contentData[i].addReminder !== undefined)
                return window.contentData[i]
        }
        fail("the window has no reminder corner")
    }

    // The shown toast of the task, or null.
    function toastFor(toasts, taskId) {
        return Items.findItem(toasts.contentItem, item => item.reminder !== undefined
                              && item.taskId === taskId && item.visible) || null
    }

    function button(toast, label) {
        // The toasts are placed at the next polish: the click goes where the button will be.
        waitForItemPolished(toast.parent)
        const found = Items.findItem(toast, item => item.text === label && item.clicked !== undefined)
        verify(found, "no button " + label)
        return found
    }

    function stackOf(window) {
        return Items.findItem(window.contentItem, item => item.depth !== undefined)
    }

    function signedInWindow() {
        verify(auth.login("reminded", "reminded-password"))
        const window = createTemporaryObject(mainComponent, testCase)
        const stack = stackOf(window)
        stack.replace(pageComponent, { "stackView": stack }, StackView.Immediate)
        return window
    }

    function inside(item, window) {
        const at = item.mapToItem(window.contentItem, 0, 0)
        return at.x >= 0 && at.y >= 0 && at.x + item.width <= window.width
                && at.y + item.height <= window.height
    }

    function overlaps(a, b) {
        const p = a.mapToItem(null, 0, 0), q = b.mapToItem(null, 0, 0)
        return p.x < q.x + b.width && q.x < p.x + a.width && p.y < q.y + b.height && q.y < p.y + a.height
    }

    function test_windowAnnouncesDueTasks() {
        const window = createTemporaryObject(mainComponent, testCase)
        const toasts = toastsOf(window)
        verify(!toasts.visible)
        verify(String(toasts.parent).startsWith("QQuickOverlay"), String(toasts.parent))
        compare(toasts.z, 9999)
        tryCompare(toasts.parent, "width", window.width)
        tryCompare(toasts.parent, "height", window.height)

        notifier.taskDueSoon(12, "Water the plants", "2030-03-01 18:00")
        notifier.taskDueSoon(13, "Call Bob", "2030-03-01 18:01")

        tryCompare(toasts, "opened", true)
        // Each reminder stays beside the other.
        const toast = toastFor(toasts, 12)
        verify(toast)
        verify(toastFor(toasts, 13))
        compare(toast.message, "Task expiring soon: Water the plants")
        compare(toast.subMessage, "Expire at: 2030-03-01 18:00")
        verify(Qt.colorEqual(toast.color, "#202020"))
        compare(toasts.x + toasts.width, window.width - 20)
        compare(toasts.y + toasts.height, window.height - 20)
        // The task's reminder again replaces its own toast only.
        notifier.taskDueSoon(12, "Water the plants", "2030-03-01 19:00")
        compare(toasts.count, 2)
        tryCompare(toastFor(toasts, 12), "subMessage", "Expire at: 2030-03-01 19:00")
    }

    function test_threeShowThenMore() {
        const window = createTemporaryObject(mainComponent, testCase)
        const toasts = toastsOf(window)
        for (let id = 1; id <= 5; ++id)
            notifier.taskDueSoon(id, "task " + id, "2030-03-01 18:0" + id)
        tryCompare(toasts, "opened", true)
        verify(!toastFor(toasts, 1))
        verify(!toastFor(toasts, 2))
        for (let id = 3; id <= 5; ++id)
            verify(toastFor(toasts, id), "task " + id)
        mouseClick(button(toasts.contentItem, "and 2 more"))
        tryVerify(() => toastFor(toasts, 1) !== null)
        verify(toastFor(toasts, 2))
    }

    function test_actions_data() {
        return [
            { tag: "Show", button: "Show", done: 0, snoozed: 0 },
            { tag: "Done", button: "Done", done: 1, snoozed: 0 },
            { tag: "Dismiss", button: "Dismiss", done: 0, snoozed: 0 }
        ]
    }

    function test_actions(data) {
        const window = signedInWindow()
        const due = new Date(Date.now() + 120000)
        verify(taskService.createTask("Pay rent", due.toISOString(), false))
        const id = taskModel.taskIdAt(0)
        notifier.taskDueSoon(id, "Pay rent", "soon")
        notifier.taskDueSoon(id + 1000, "Another task", "soon")
        const toasts = toastsOf(window)
        tryVerify(() => toastFor(toasts, id) !== null)

        mouseClick(button(toastFor(toasts, id), data.button))

        tryVerify(() => toastFor(toasts, id) === null)
        verify(toastFor(toasts, id + 1000), "the other reminder went too")
        compare(taskModel.data(taskModel.index(0, 2), Qt.DisplayRole) === true ? 1 : 0, data.done)
        if (data.button === "Show")
            compare(stackOf(window).currentItem.selectedTaskId, id)
    }

    // "Pick a time…" puts the reminder off until the time OK takes from the due-time popup.
    function test_snoozeUntilAPickedTime() {
        const window = signedInWindow()
        verify(taskService.createTask("Pay rent", new Date(Date.now() + 120000).toISOString(),
                                      false))
        const id = taskModel.taskIdAt(0)
        notifier.taskDueSoon(id, "Pay rent", "soon")
        const toasts = toastsOf(window)
        tryVerify(() => toastFor(toasts, id) !== null)

        toastFor(toasts, id).snoozeRequested("pick")
        const overlay = window.Overlay.overlay
        let ok = null
        tryVerify(() => (ok = Items.findItem(overlay, item => item.text === "OK"
                                             && item.clicked !== undefined && item.visible)))
        waitForItemPolished(ok.parent)
        mouseClick(ok)

        tryVerify(() => toastFor(toasts, id) === null)
        compare(taskModel.data(taskModel.index(0, 2), Qt.DisplayRole), false)
    }

    function test_signOutClearsTheToasts() {
        const window = createTemporaryObject(mainComponent, testCase)
        verify(auth.login("reminded", "reminded-password"))
        notifier.taskDueSoon(12, "Water the plants", "2030-03-01 18:00")
        const toasts = toastsOf(window)
        tryCompare(toasts, "opened", true)

        auth.logout()

        tryCompare(toasts, "visible", false)
        compare(toasts.count, 0)
    }

    // "Show" on a tasks page that is already showing keeps the page and its open dialog.
    function test_showOnTheTasksPage_data() {
        return [
            { tag: "task on the loaded page", search: "", pageOfTask: 1 },
            { tag: "task on a later page, filtered out", search: "no such task", pageOfTask: 3 }
        ]
    }

    function test_showOnTheTasksPage(data) {
        const window = signedInWindow()
        taskService.pageSize = 10
        for (let i = 0; i < 25; ++i)
            verify(taskService.createTask("task " + i, new Date(2030, 0, 15).toISOString(), false))
        taskService.loadPage(data.pageOfTask)
        const id = taskModel.taskIdAt(2)
        const page = stackOf(window).currentItem
        findChild(page, "searchName").text = data.search
        taskService.loadPage(1)
        findChild(page, "newButton").clicked()
        const dialog = findChild(page, "taskDialog")
        tryCompare(dialog, "opened", true)
        findChild(dialog.contentItem, "nameField").insert(0, "pa")
        notifier.taskDueSoon(id, "task", "2030-01-15 00:00")
        const toasts = toastsOf(window)
        tryVerify(() => toastFor(toasts, id) !== null)

        mouseClick(button(toastFor(toasts, id), "Show"))

        tryVerify(() => toastFor(toasts, id) === null)
        compare(stackOf(window).currentItem, page)
        verify(dialog.opened)
        compare(findChild(dialog.contentItem, "nameField").text, "pa")
        compare(page.selectedTaskId, id)
        compare(taskModel.taskIdAt(page.selectedRow), id)
        compare(taskService.currentPage, data.pageOfTask)
        compare(findChild(page, "searchName").text, "")
        taskService.pageSize = 25
    }

    // At the smallest window size every control can be reached, also with reminders showing,
    // and no dialog lies under a reminder.
    function test_everythingFitsAtTheMinimumSize() {
        const window = signedInWindow()
        window.width = Theme.minimumWindowWidth
        window.height = Theme.minimumWindowHeight
        const page = stackOf(window).currentItem
        tryCompare(page, "width", window.width)
        findChild(page, "syncIndicator").visible = true // as for an account that syncs
        waitForRendering(page) // the toolbar laid out again
        for (const name of ["searchName", "activeFilter", "tagFilter", "sortChoice", "clearButton",
                            "newButton", "editButton", "deleteButton", "deleteDoneButton",
                            "syncIndicator", "settingsButton", "logoutButton", "prevButton",
                            "nextButton", "pageSizeBox"])
            verify(inside(findChild(page, name), window), name)
        notifier.taskDueSoon(12, "Water the plants every second morning", "2030-03-01 18:00")
        const toasts = toastsOf(window)
        tryCompare(toasts, "opened", true)
        const toast = toastsOf(window).contentItem
        for (const name of ["prevButton", "nextButton", "pageSizeBox", "logoutButton"]) {
            tryVerify(() => !overlaps(findChild(page, name), toast), 1000, name)
            verify(inside(findChild(page, name), window), name)
        }
        for (const name of ["settingsDialog", "taskDialog", "confirmDeleteInactive",
                            "syncPasswordDialog"]) {
            const dialog = findChild(page, name)
            dialog.open()
            tryCompare(dialog, "opened", true)
            verify(inside(dialog.contentItem.parent, window), name)
            verify(!overlaps(dialog.contentItem.parent, toast), name)
            dialog.close()
        }
        const picker = findChild(page, "expirePicker")
        picker.open()
        tryCompare(picker, "opened", true)
        verify(inside(picker.contentItem.parent, window))
    }
}
