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
        id: toastComponent

        Toast {}
    }

    Component {
        id: mainComponent

        Main {}
    }

    Component {
        id: pageComponent

        TasksPage {}
    }

    Component {
        id: spyComponent

        SignalSpy {
            signalName: "activated"
        }
    }

    function initTestCase() {
        verify(auth.registerUser("reminded", "reminded-password", "Reminded Person"))
    }

    function cleanup() {
        auth.logout()
    }

    function button(toast, label) {
        const found = Items.findItem(toast.contentItem, item => item.text === label && item.clicked !== undefined)
        verify(found, "no button " + label)
        return found
    }

    function labels(toast) {
        const column = toast.contentItem
        return [column.children[0], column.children[1]]
    }

    function openToast() {
        const toast = createTemporaryObject(toastComponent, testCase)
        toast.showToast(7, "Task expiring soon: Pay rent", "Expire at: 2030-01-15 09:05")
        tryCompare(toast, "opened", true)
        return toast
    }

    function toastOf(window) {
        for (let i = 0; i < window.contentData.length; ++i) {
            if (window.contentData[i].showToast !== undefined)
                return window.contentData[i]
        }
        fail("the window has no toast")
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

    function test_textsAndPlacement() {
        const toast = openToast()
        compare(toast.taskId, 7)
        compare(labels(toast)[0].text, "Task expiring soon: Pay rent")
        compare(labels(toast)[1].text, "Expire at: 2030-01-15 09:05")
        verify(labels(toast)[1].visible)
        compare(toast.width, 360)
        compare(toast.padding, 12)
        // The bottom-right corner keeps 20 px from the bottom-right corner of the parent.
        compare(toast.x + toast.width, testCase.width - 20)
        compare(toast.y + toast.height, testCase.height - 20)
        verify(Qt.colorEqual(toast.background.color, "#202020"))
        verify(Qt.colorEqual(toast.background.border.color, "#721675"))
    }

    function test_emptySubMessageIsHidden() {
        const toast = createTemporaryObject(toastComponent, testCase)
        toast.showToast(3, "Only one line", "")
        tryCompare(toast, "opened", true)
        verify(!labels(toast)[1].visible)
    }

    function test_laterAnnouncementReplacesTheEarlier() {
        const toast = openToast()
        toast.showToast(9, "Task expiring soon: Call Bob", "Expire at: 2030-01-15 09:30")
        verify(toast.opened)
        compare(toast.taskId, 9)
        compare(labels(toast)[0].text, "Task expiring soon: Call Bob")
        compare(labels(toast)[1].text, "Expire at: 2030-01-15 09:30")
    }

    function test_onlyItsButtonsCloseIt() {
        const toast = openToast()
        keyClick(Qt.Key_Escape)
        mouseClick(testCase, 10, 10)
        wait(50)
        verify(toast.opened)
    }

    function test_buttons_data() {
        return [
            { tag: "Show", button: "Show", activations: 1 },
            { tag: "Dismiss", button: "Dismiss", activations: 0 }
        ]
    }

    function test_buttons(data) {
        const toast = openToast()
        const spy = createTemporaryObject(spyComponent, testCase, { "target": toast })

        mouseClick(button(toast, data.button))

        tryCompare(toast, "visible", false)
        compare(spy.count, data.activations)
        if (data.activations > 0)
            compare(spy.signalArguments[0][0], 7)
    }

    function test_windowAnnouncesDueTask() {
        const window = createTemporaryObject(mainComponent, testCase)
        const toast = toastOf(window)
        verify(!toast.visible)
        verify(String(toast.parent).startsWith("QQuickOverlay"), String(toast.parent))
        compare(toast.parent.Window.window, window)
        compare(toast.z, 9999)
        // The overlay takes the window's size with the first layout, on some Qt versions
        // only after the window is shown.
        tryCompare(toast.parent, "width", window.width)
        tryCompare(toast.parent, "height", window.height)

        notifier.taskDueSoon(12, "Water the plants", "2030-03-01 18:00")

        tryCompare(toast, "opened", true)
        compare(toast.taskId, 12)
        compare(labels(toast)[0].text, "Task expiring soon: Water the plants")
        compare(labels(toast)[1].text, "Expire at: 2030-03-01 18:00")
        compare(toast.x + toast.width, window.width - 20)
        compare(toast.y + toast.height, window.height - 20)
    }

    function test_showOpensTheTaskPage() {
        const window = createTemporaryObject(mainComponent, testCase)
        const stack = stackOf(window)
        verify(auth.login("reminded", "reminded-password"))
        notifier.taskDueSoon(12, "Water the plants", "2030-03-01 18:00")
        const toast = toastOf(window)
        tryCompare(toast, "opened", true)
        window.showMinimized()

        mouseClick(button(toast, "Show"))

        tryCompare(toast, "visible", false)
        compare(stack.depth, 1)
        compare(stack.currentItem.focusTaskId, 12)
        compare(stack.currentItem.stackView, stack)
        compare(window.visibility, Window.Windowed)
    }

    function test_signOutClosesTheToast() {
        const window = createTemporaryObject(mainComponent, testCase)
        verify(auth.login("reminded", "reminded-password"))
        notifier.taskDueSoon(12, "Water the plants", "2030-03-01 18:00")
        const toast = toastOf(window)
        tryCompare(toast, "opened", true)

        auth.logout()

        tryCompare(toast, "visible", false)
        // A later reminder, for whoever signs in next, opens it again.
        notifier.taskDueSoon(13, "Another account's task", "2030-03-02 08:00")
        tryCompare(toast, "opened", true)
        compare(toast.taskId, 13)
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
        const toast = toastOf(window)
        tryCompare(toast, "opened", true)

        mouseClick(button(toast, "Show"))

        tryCompare(toast, "visible", false)
        compare(stackOf(window).currentItem, page)
        verify(dialog.opened)
        compare(findChild(dialog.contentItem, "nameField").text, "pa")
        compare(page.selectedTaskId, id)
        compare(taskModel.taskIdAt(page.selectedRow), id)
        compare(taskService.currentPage, data.pageOfTask)
        compare(findChild(page, "searchName").text, "")
        taskService.pageSize = 25
    }

    // At the smallest window size every control can be reached and no dialog lies under a
    // reminder.
    function test_everythingFitsAtTheMinimumSize() {
        const window = signedInWindow()
        window.width = Theme.minimumWindowWidth
        window.height = Theme.minimumWindowHeight
        const page = stackOf(window).currentItem
        tryCompare(page, "width", window.width)
        for (const name of ["searchName", "activeFilter", "tagFilter", "sortChoice", "clearButton", "newButton", "editButton",
                            "deleteButton", "deleteDoneButton", "settingsButton", "logoutButton",
                            "prevButton", "nextButton", "pageSizeBox"])
            verify(inside(findChild(page, name), window), name)
        notifier.taskDueSoon(12, "Water the plants every second morning", "2030-03-01 18:00")
        const toast = toastOf(window)
        tryCompare(toast, "opened", true)
        for (const name of ["settingsDialog", "taskDialog", "confirmDeleteInactive"]) {
            const dialog = findChild(page, name)
            dialog.open()
            tryCompare(dialog, "opened", true)
            verify(inside(dialog.contentItem.parent, window), name)
            verify(!overlaps(dialog.contentItem.parent, toast.contentItem.parent), name)
            dialog.close()
        }
        const picker = findChild(page, "expirePicker")
        picker.open()
        tryCompare(picker, "opened", true)
        verify(inside(picker.contentItem.parent, window))
    }
}
