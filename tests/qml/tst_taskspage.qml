import QtQuick
import QtQuick.Controls
import QtTest
import TarvikQml
import "items.js" as Items

TestCase {
    id: testCase

    // Other test files share the database and the services: sign in as this file's own user.
    function signIn() {
        if (auth.loggedIn && auth.userName === "Page Tester")
            return
        auth.logout()
        verify(auth.login("pagetester", "password1"))
    }

    function addTasks(count) {
        for (let i = 0; i < count; ++i)
            verify(taskService.createTask("task " + i, new Date(2030, 0, 15, 9, 5).toISOString(),
                                          false))
    }

    function createPage(properties) {
        const props = Object.assign({ "stackView": stack, "width": 1300, "height": 700 },
                                    properties || {})
        const page = createTemporaryObject(pageComponent, testCase, props)
        verify(page)
        return page
    }

    function child(parent, name) {
        const found = findChild(parent, name)
        verify(found, name)
        return found
    }

    function openPicker(page, moment) {
        testCase.child(page, "taskDialog").expireAtLocal = moment
        const picker = testCase.child(page, "expirePicker")
        picker.open()
        tryCompare(picker, "opened", true)
        return picker
    }

    function initTestCase() {
        verify(auth.registerUser("pagetester", "password1", "Page Tester"))
    }

    function init() {
        signIn()
        taskService.filterName = ""
        taskService.filterActive = -1
        taskService.filterTag = ""
        taskService.pageSize = 25
        taskService.loadPage(1)
        while (taskModel.rowCountQml() > 0)
            verify(taskService.deleteTask(taskModel.taskIdAt(0)))
    }

    function cleanupTestCase() {
        init()
        auth.logout()
    }

    function test_moveSelection_data() {
        return [
            { tag: "down without selection picks the first row", start: -1, key: Qt.Key_Down, row: 0 },
            { tag: "up without selection picks the last row", start: -1, key: Qt.Key_Up, row: 6 },
            { tag: "down on the last row stays", start: 6, key: Qt.Key_Down, row: 6 },
            { tag: "up on the first row stays", start: 0, key: Qt.Key_Up, row: 0 },
            { tag: "down in the middle", start: 3, key: Qt.Key_Down, row: 4 },
            { tag: "down with no task selected picks the first row", start: 10, key: Qt.Key_Down, row: 0 },
            { tag: "up with no task selected picks the last row", start: 10, key: Qt.Key_Up, row: 6 }
        ]
    }

    function test_moveSelection(data) {
        addTasks(7)
        const page = createPage()
        compare(taskModel.rowCountQml(), 7)
        page.selectTask(taskModel.taskIdAt(data.start))
        keyClick(data.key)
        compare(page.selectedRow, data.row)
        compare(page.selectedTaskId, taskModel.taskIdAt(data.row))
    }

    function test_moveSelectionWithoutRows() {
        const page = createPage()
        keyClick(Qt.Key_Down)
        keyClick(Qt.Key_Up)
        compare(page.selectedRow, -1)
    }

    // Delete without a selected task sends nothing; with one it deletes that task.
    function test_deleteBeyondLoadedRows() {
        addTasks(3)
        const page = createPage()
        page.selectTask(taskModel.taskIdAt(5))
        keyClick(Qt.Key_Delete)
        compare(page.selectedRow, -1)
        compare(taskService.totalCount, 3)
        page.selectTask(taskModel.taskIdAt(1))
        const id = taskModel.taskIdAt(1)
        keyClick(Qt.Key_Delete)
        compare(page.selectedRow, -1)
        compare(taskService.totalCount, 2)
        compare(taskModel.rowForId(id), -1)
    }

    // The selection is a task: it follows the task across reloads and goes when the task
    // leaves the loaded page; Edit and Delete act only on a selected task.
    function test_selectionFollowsTheTask_data() {
        return [
            { tag: "a new task", change: () => addTasks(1), kept: true },
            { tag: "a search that keeps it", kept: true,
              change: id => taskService.filterName = taskModel.nameAt(taskModel.rowForId(id)) },
            { tag: "a search that hides it", change: () => taskService.filterName = "none", kept: false },
            { tag: "the next page", change: () => taskService.loadPage(2), kept: false },
            { tag: "the task deleted elsewhere", change: id => taskService.deleteTask(id), kept: false }
        ]
    }

    function test_selectionFollowsTheTask(data) {
        taskService.pageSize = 10
        addTasks(15)
        const page = createPage()
        const table = testCase.child(page, "table")
        verify(waitForItemPolished(table))
        const id = taskModel.taskIdAt(3)
        mouseClick(table, 100, 3 * 37 + 18)
        compare(page.selectedTaskId, id)

        data.change(id)

        compare(page.selectedTaskId, data.kept ? id : -1)
        compare(page.selectedRow, taskModel.rowForId(page.selectedTaskId))
        compare(testCase.child(page, "editButton").enabled, data.kept)
        compare(testCase.child(page, "deleteButton").enabled, data.kept)
        keyClick(Qt.Key_E, Qt.ControlModifier)
        compare(testCase.child(page, "taskDialog").visible, data.kept)
    }

    // A task deleted by a slip of the Delete key comes back with Ctrl+Z, the same task; an
    // edit saved in the dialog is undone from the bar's button. Without the bar, Ctrl+Z does
    // nothing.
    function test_undoFromTheKeyboardAndTheBar() {
        addTasks(3)
        const page = createPage()
        const bar = testCase.child(page, "undoBar")
        const id = taskModel.taskIdAt(1)
        const name = taskModel.nameAt(1)
        page.selectTask(id)
        keyClick(Qt.Key_Delete)
        compare(taskModel.rowForId(id), -1)
        tryCompare(bar, "visible", true)
        compare(testCase.child(bar, "undoText").text, "Deleted '" + name + "'.")

        keyClick(Qt.Key_Z, Qt.ControlModifier)
        compare(taskModel.rowForId(id), 1)
        compare(taskService.totalCount, 3)

        page.selectTask(id)
        keyClick(Qt.Key_E, Qt.ControlModifier)
        const dialog = testCase.child(page, "taskDialog")
        tryCompare(dialog, "opened", true)
        testCase.child(dialog.contentItem, "nameField").text = "renamed"
        keyClick(Qt.Key_Return)
        tryCompare(dialog, "visible", false)
        compare(taskModel.nameAt(taskModel.rowForId(id)), "renamed")
        compare(testCase.child(bar, "undoText").text, "Saved 'renamed'.")
        mouseClick(testCase.child(bar, "undoButton"))
        compare(taskModel.nameAt(taskModel.rowForId(id)), name)
        compare(taskService.totalCount, 3)
        // What shows next is older; closed, the bar leaves it as it is.
        if (bar.visible)
            testCase.child(bar, "undoClose").clicked()
        compare(bar.visible, false)
        keyClick(Qt.Key_Z, Qt.ControlModifier)
        compare(taskService.totalCount, 3)
    }

    // Another page opens at its first row, not at the previous page's scroll position.
    function test_pageChangeShowsFirstRow() {
        taskService.pageSize = 50
        addTasks(60)
        const page = createPage()
        const table = testCase.child(page, "table")
        verify(waitForItemPolished(table))
        table.contentY = 20 * 37
        keyClick(Qt.Key_Right)
        compare(taskService.currentPage, 2)
        compare(table.contentY, table.originY)
    }

    // Return on the focused Close button closes without saving; the next opening starts clean.
    function test_dialogReturnAndError() {
        const page = createPage()
        keyClick(Qt.Key_N, Qt.ControlModifier)
        const dialog = testCase.child(page, "taskDialog")
        tryCompare(dialog, "opened", true)
        testCase.child(dialog.contentItem, "nameField").text = "Pay rent"
        keyClick(Qt.Key_Return)
        compare(testCase.child(dialog.contentItem, "dlgErr").text, "all fields are required: due time")
        dialog.expireAtLocal = new Date(2030, 0, 15, 9, 5)
        testCase.child(dialog.contentItem, "closeButton").forceActiveFocus()
        keyClick(Qt.Key_Return)
        tryCompare(dialog, "visible", false)
        compare(taskService.totalCount, 0)
        keyClick(Qt.Key_N, Qt.ControlModifier)
        tryCompare(dialog, "opened", true)
        compare(testCase.child(dialog.contentItem, "dlgErr").text, "")
    }

    function test_repeatRule_data() {
        return [
            { tag: "every weekday, reminded an hour before", set: { repeatBox: 2, reminderChoice: 7 },
              rule: "FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR", reminder: 60 },
            { tag: "every 3 months on the third Tuesday, 5 times",
              set: { repeatBox: 6, repeatUnit: 2, repeatMonthly: 1, repeatEnd: 2 },
              interval: 3, count: 5, rule: "FREQ=MONTHLY;INTERVAL=3;BYDAY=3TU;COUNT=5" },
            { tag: "every week on Monday and Thursday, from completion, no reminder",
              set: { repeatBox: 3, repeatFrom: 1, reminderChoice: 1 }, days: [0, 3],
              rule: "FREQ=WEEKLY;BYDAY=MO,TH", fromCompletion: true, reminder: -1 },
        ]
    }

    // The Repeat fields give the task its rule; the list marks it, and opening and saving the
    // task again keeps the rule as it is.
    function test_repeatRule(data) {
        const page = createPage()
        keyClick(Qt.Key_N, Qt.ControlModifier)
        const dialog = testCase.child(page, "taskDialog")
        tryCompare(dialog, "opened", true)
        testCase.child(dialog.contentItem, "nameField").text = "Water the plants"
        dialog.expireAtLocal = new Date(2030, 0, 15, 9, 5)
        for (const name in data.set) {
            const box = testCase.child(dialog.contentItem, name)
            box.currentIndex = data.set[name]
            box.activated(data.set[name])
        }
        if (data.interval)
            testCase.child(dialog.contentItem, "repeatInterval").value = data.interval
        if (data.count)
            testCase.child(dialog.contentItem, "repeatCount").value = data.count
        for (const day of data.days || [])
            testCase.child(dialog.contentItem, "repeatDay" + day).checked = true
        testCase.child(dialog.contentItem, "saveButton").clicked()
        tryCompare(dialog, "visible", false)
        const id = taskModel.taskIdAt(0)
        compare(taskService.repeatOf(id).rrule, data.rule)
        compare(taskService.repeatOf(id).fromCompletion, data.fromCompletion === true)
        const reminder = data.reminder === undefined ? -2 : data.reminder
        compare(taskService.reminderLead(id), reminder)
        const table = testCase.child(page, "table")
        tryVerify(() => Items.findItem(table, item => item.objectName === "repeatMark"
                                                      && item.visible))

        dialog.openForEdit(id, "Water the plants", false, new Date(2030, 0, 15, 9, 5))
        tryCompare(dialog, "opened", true)
        compare(testCase.child(dialog.contentItem, "reminderChoice").currentIndex,
                data.set.reminderChoice || 0)
        testCase.child(dialog.contentItem, "saveButton").clicked()
        tryCompare(dialog, "visible", false)
        compare(taskService.repeatOf(id).rrule, data.rule)
        compare(taskService.reminderLead(id), reminder)
    }

    // After OK was clicked, the arrow keys move the day again at the next opening.
    function test_arrowKeysAfterMouseOk() {
        const page = createPage()
        const picker = openPicker(page, new Date(2030, 0, 15, 9, 5))
        mouseClick(Items.findItem(picker.contentItem, item => item.text === "OK"))
        tryCompare(picker, "visible", false)
        picker.open()
        tryCompare(picker, "opened", true)
        keyClick(Qt.Key_Right)
        keyClick(Qt.Key_Return)
        tryCompare(picker, "visible", false)
        compare(testCase.child(page, "taskDialog").expireAtLocal.getDate(), 16)
    }

    // A name cut off in its cell is shown whole, as typed, while the pointer rests on it.
    function test_longNameTooltip() {
        const name = "Call <b>the</b> bank" + " and ask about the standing orders".repeat(6)
        verify(taskService.createTask(name, new Date(2030, 0, 15).toISOString(), false))
        const page = createPage()
        const table = testCase.child(page, "table")
        verify(waitForItemPolished(table))
        mouseMove(table, 300, 18)
        const tip = testCase.child(page, "fullText")
        tryCompare(tip, "opened", true)
        compare(tip.contentItem.text, name)
        compare(tip.contentItem.textFormat, Text.PlainText)
    }

    // Space on the selected row and a click on its status circle mark the task Done, then
    // Pending again; the notice names the task. The tag filter shows the tasks of the tag.
    function test_doneInOneActionAndTagFilter_data() {
        return [
            { tag: "space", circle: false },
            { tag: "status circle", circle: true }
        ]
    }

    function test_doneInOneActionAndTagFilter(data) {
        addTasks(3)
        verify(taskService.saveTaskDetails(taskModel.taskIdAt(1), "", 0, "garden"))
        const page = createPage()
        const table = testCase.child(page, "table")
        verify(waitForItemPolished(table))
        const id = taskModel.taskIdAt(1)
        for (const done of [true, false]) {
            if (data.circle) {
                mouseClick(Items.findItem(table, item => item.objectName === "statusCircle"
                                          && item.visible && item.parent.row === 1))
            } else {
                page.selectTask(id)
                table.focusRow(1)
                keyClick(Qt.Key_Space)
            }
            compare(page.selectedTaskId, id)
            compare(taskModel.activeAt(1), done)
            compare(testCase.child(page, "taskNotice").message,
                    (done ? "Done: " : "Pending again: ") + taskModel.nameAt(1))
        }
        const tags = testCase.child(page, "tagFilter")
        compare(tags.model, ["All tags", "garden"])
        tags.currentIndex = 1
        tags.activated(1)
        compare(taskService.filterTag, "garden")
        compare(taskModel.rowCountQml(), 1)
        compare(taskModel.taskIdAt(0), id)
        testCase.child(page, "clearButton").clicked()
        compare(taskModel.rowCountQml(), 3)
    }

    function test_timeShortcuts_data() {
        return [
            { tag: "hour up stops at 23", hours: 23, minutes: 10, key: Qt.Key_Up, h: 23, m: 10 },
            { tag: "hour down stops at 0", hours: 0, minutes: 10, key: Qt.Key_Down, h: 0, m: 10 },
            { tag: "minute up stops at 59", hours: 12, minutes: 59, key: Qt.Key_Right, h: 12, m: 59 },
            { tag: "minute down stops at 0", hours: 12, minutes: 0, key: Qt.Key_Left, h: 12, m: 0 },
            { tag: "hour up", hours: 22, minutes: 59, key: Qt.Key_Up, h: 23, m: 59 },
            { tag: "minute up does not carry", hours: 9, minutes: 58, key: Qt.Key_Right, h: 9, m: 59 },
            { tag: "minute down does not borrow", hours: 9, minutes: 1, key: Qt.Key_Left, h: 9, m: 0 },
            { tag: "page up carries into the hour", hours: 9, minutes: 50, key: Qt.Key_PageUp,
              modifiers: Qt.NoModifier, h: 10, m: 20 },
            { tag: "page down borrows from the hour", hours: 10, minutes: 5, key: Qt.Key_PageDown,
              modifiers: Qt.NoModifier, h: 9, m: 35 },
            { tag: "page up stops at 23:59", hours: 23, minutes: 40, key: Qt.Key_PageUp,
              modifiers: Qt.NoModifier, h: 23, m: 59 },
            { tag: "page down stops at 0:00", hours: 0, minutes: 20, key: Qt.Key_PageDown,
              modifiers: Qt.NoModifier, h: 0, m: 0 }
        ]
    }

    function test_timeShortcuts(data) {
        const page = createPage()
        const picker = openPicker(page, new Date(2030, 0, 15, data.hours, data.minutes))
        const modifiers = data.modifiers === undefined ? Qt.ControlModifier : data.modifiers
        keyClick(data.key, modifiers)
        keyClick(data.key, modifiers)
        compare(testCase.child(picker.contentItem, "hh").value, data.h)
        compare(testCase.child(picker.contentItem, "mm").value, data.m)
        keyClick(Qt.Key_Return)
        tryCompare(picker, "visible", false)
        compare(testCase.child(page, "taskDialog").expireAtLocal.getTime(), new Date(2030, 0, 15, data.h, data.m).getTime())
    }

    // A time typed into a spin box counts when Return comes before the box lost the focus.
    function test_typedTimeCountsOnReturn() {
        const page = createPage()
        const picker = openPicker(page, new Date(2030, 0, 15, 9, 5))
        const hh = testCase.child(picker.contentItem, "hh")
        hh.contentItem.forceActiveFocus()
        hh.contentItem.selectAll()
        keyClick(Qt.Key_1)
        keyClick(Qt.Key_4)
        compare(hh.value, 9)
        keyClick(Qt.Key_Return)
        tryCompare(picker, "visible", false)
        compare(testCase.child(page, "taskDialog").expireAtLocal.getTime(), new Date(2030, 0, 15, 14, 5).getTime())
    }

    // A new day keeps the chosen time; every moment the popup hands back has zero seconds.
    function test_pickDayKeepsTime() {
        const page = createPage()
        const picker = openPicker(page, new Date(2030, 0, 15, 9, 5, 42, 500))
        const datePicker = testCase.child(picker.contentItem, "datePicker")
        compare(datePicker.month, 0)
        compare(datePicker.year, 2030)
        compare(testCase.child(picker.contentItem, "hh").value, 9)
        compare(testCase.child(picker.contentItem, "mm").value, 5)
        datePicker.selectDate(new Date(2030, 0, 20))
        picker.take()
        compare(testCase.child(page, "taskDialog").expireAtLocal.getTime(), new Date(2030, 0, 20, 9, 5, 0, 0).getTime())
    }

    function test_pageSizeBox_data() {
        return [
            { tag: "10", stored: 10, shown: "10" },
            { tag: "100", stored: 100, shown: "100" },
            { tag: "30 is not offered", stored: 30, shown: "25" },
            { tag: "1 is not offered", stored: 1, shown: "25" }
        ]
    }

    function test_pageSizeBox(data) {
        taskService.pageSize = data.stored
        const page = createPage()
        const box = testCase.child(page, "pageSizeBox")
        compare(box.currentText, data.shown)
        compare(taskService.pageSize, data.stored)
    }

    function test_pageSizeChoiceLoadsFirstPage() {
        taskService.pageSize = 10
        addTasks(21)
        const page = createPage()
        taskService.loadPage(3)
        compare(taskService.currentPage, 3)
        const box = testCase.child(page, "pageSizeBox")
        box.currentIndex = 2
        box.activated(2)
        compare(taskService.pageSize, 50)
        compare(taskService.currentPage, 1)
        compare(taskService.totalPages, 1)
        compare(box.currentText, "50")
    }

    function test_clearReloadsOncePerChangedFilter_data() {
        return [
            { tag: "nothing to clear", search: "", filter: 0, reloads: 0 },
            { tag: "search only", search: "task", filter: 0, reloads: 1 },
            { tag: "blank search", search: "   ", filter: 0, reloads: 0 },
            { tag: "done filter only", search: "", filter: 1, reloads: 1 },
            { tag: "search and pending filter", search: "task", filter: 2, reloads: 2 }
        ]
    }

    function test_clearReloadsOncePerChangedFilter(data) {
        addTasks(2)
        const page = createPage()
        const search = testCase.child(page, "searchName")
        const filter = testCase.child(page, "activeFilter")
        search.text = data.search
        filter.currentIndex = data.filter
        filter.activated(data.filter)
        reloads.clear()
        testCase.child(page, "clearButton").clicked()
        compare(reloads.count, data.reloads)
        compare(search.text, "")
        compare(filter.currentIndex, 0)
        compare(taskService.filterName, "")
        compare(taskService.filterActive, -1)
    }

    // A page shows the filters the service applies; sign-out returns both to their start.
    function test_filtersFollowTheServiceAndTheAccount() {
        addTasks(2)
        taskService.filterName = "task 1"
        taskService.filterActive = 0
        let page = createPage()
        compare(testCase.child(page, "searchName").text, "task 1")
        compare(testCase.child(page, "activeFilter").currentText, "Pending")
        auth.logout()
        signIn()
        page = createPage()
        compare(testCase.child(page, "searchName").text, "")
        compare(testCase.child(page, "activeFilter").currentText, "All")
        compare(taskModel.rowCountQml(), 2)
    }

    // A task that came without a due time (from a server or an import) is edited and kept
    // without one; a new task needs one. "No due time" is offered only for the former.
    function test_submit_data() {
        return [
            { tag: "saved", name: "Pay rent", due: true, signedIn: true, open: false, error: "" },
            { tag: "blank name", name: "   ", due: true, signedIn: true, open: true,
              error: "all fields are required: task name" },
            { tag: "no due time", name: "Pay rent", due: false, signedIn: true, open: true,
              error: "all fields are required: due time" },
            { tag: "refused by the service", name: "Pay rent", due: true, signedIn: false,
              open: true, error: "could not save the task" },
            { tag: "edited, kept without a due time", editing: true, name: "Pay rent", due: false,
              signedIn: true, open: false, error: "" },
            { tag: "edited, given a due time", editing: true, name: "Pay rent", due: true,
              signedIn: true, open: false, error: "" }
        ]
    }

    function test_submit(data) {
        const before = data.editing ? 1 : 0
        if (data.editing)
            verify(taskService.createTask("imported", new Date(NaN), false))
        const page = createPage()
        const dialog = testCase.child(page, "taskDialog")
        const nameField = testCase.child(dialog.contentItem, "nameField")
        if (data.editing)
            page.selectTask(taskModel.taskIdAt(0))
        keyClick(data.editing ? Qt.Key_E : Qt.Key_N, Qt.ControlModifier)
        tryCompare(dialog, "opened", true)
        verify(data.editing || nameField.activeFocus)
        compare(testCase.child(dialog.contentItem, "expireField").text,
                data.editing ? "No due time" : "")
        const picker = testCase.child(page, "expirePicker")
        keyClick(Qt.Key_G, Qt.ControlModifier)
        tryCompare(picker, "opened", true)
        compare(testCase.child(picker.contentItem, "noDueTimeButton").visible, !!data.editing)
        picker.close()
        nameField.forceActiveFocus()
        nameField.text = data.name
        dialog.expireAtLocal = data.due ? new Date(2030, 0, 15, 9, 5) : null
        if (!data.signedIn)
            auth.logout()
        keyClick(Qt.Key_Return)
        compare(testCase.child(dialog.contentItem, "dlgErr").text, data.error)
        if (data.open) {
            compare(dialog.visible, true)
            compare(nameField.text, data.name)
            compare(taskService.totalCount, before)
        } else {
            tryCompare(dialog, "visible", false)
            compare(taskService.totalCount, 1)
            compare(taskModel.nameAt(0), "Pay rent")
            // The due time arrives as the same instant that was picked, or stays empty.
            const due = taskModel.expireAt(0).getTime()
            compare(isNaN(due) ? "none" : due, data.due ? new Date(2030, 0, 15, 9, 5).getTime() : "none")
        }
    }

    // Space, Return, Down and Alt+Down on the focused due-time field open the picker.
    function test_dueFieldKeysOpenThePicker_data() {
        return [
            { tag: "space", key: Qt.Key_Space, modifiers: Qt.NoModifier },
            { tag: "return", key: Qt.Key_Return, modifiers: Qt.NoModifier },
            { tag: "down", key: Qt.Key_Down, modifiers: Qt.NoModifier },
            { tag: "alt+down", key: Qt.Key_Down, modifiers: Qt.AltModifier }
        ]
    }

    function test_dueFieldKeysOpenThePicker(data) {
        const page = createPage()
        keyClick(Qt.Key_N, Qt.ControlModifier)
        const dialog = testCase.child(page, "taskDialog")
        tryCompare(dialog, "opened", true)
        testCase.child(dialog.contentItem, "expireField").forceActiveFocus()

        keyClick(data.key, data.modifiers)

        tryCompare(testCase.child(page, "expirePicker"), "opened", true)
        compare(testCase.child(dialog.contentItem, "dlgErr").text, "")
    }

    // After a refused save the same dialog saves once the service accepts again.
    function test_refusedSaveKeepsWhatWasTyped() {
        addTasks(1)
        const page = createPage()
        page.selectTask(taskModel.taskIdAt(0))
        keyClick(Qt.Key_E, Qt.ControlModifier)
        const dialog = testCase.child(page, "taskDialog")
        tryCompare(dialog, "opened", true)
        compare(dialog.title, "Edit Task")
        const nameField = testCase.child(dialog.contentItem, "nameField")
        nameField.text = "renamed"
        keyClick(Qt.Key_D, Qt.ControlModifier)
        auth.logout()
        keyClick(Qt.Key_Return)
        compare(dialog.visible, true)
        compare(testCase.child(dialog.contentItem, "dlgErr").text, "could not save the task")
        signIn()
        keyClick(Qt.Key_Return)
        tryCompare(dialog, "visible", false)
        compare(testCase.child(dialog.contentItem, "dlgErr").text, "")
        compare(taskModel.nameAt(0), "renamed")
        compare(taskModel.activeAt(0), true)
    }

    function test_focusTaskId_data() {
        return [
            { tag: "on the first page", page: 1, selected: true },
            { tag: "on another page", page: 5, selected: false }
        ]
    }

    function test_focusTaskId(data) {
        taskService.pageSize = 10
        addTasks(50)
        taskService.loadPage(data.page)
        const id = taskModel.taskIdAt(3)
        const page = createPage({ "focusTaskId": id })
        compare(taskService.currentPage, 1)
        if (data.selected) {
            tryVerify(function() { return page.selectedRow >= 0 })
            compare(taskModel.taskIdAt(page.selectedRow), id)
        } else {
            wait(400)
            compare(page.selectedRow, -1)
        }
    }

    name: "TasksPage"
    when: windowShown
    width: 1300
    height: 700
    visible: true

    StackView {
        id: stack
    }

    SignalSpy {
        id: reloads

        target: taskService
        signalName: "totalPagesChanged"
    }

    Component {
        id: pageComponent

        TasksPage {}
    }
}
