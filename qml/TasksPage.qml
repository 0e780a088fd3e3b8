import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The signed-in user's tasks: the toolbar, the table and the pager, with the dialogs they open
// and the page's keyboard shortcuts. The selection is a task, not a row number: after every
// reload the highlight follows that task while it is on the loaded page and goes otherwise.
Page {
    id: page

    required property StackView stackView
    property double focusTaskId: -1
    property double selectedTaskId: -1
    property int selectedRow: -1
    property int shownPage: 0
    // The password of the sync is asked for by itself once, as the account signs in.
    property bool syncPasswordAsked: false

    function selectTask(id) {
        const row = taskModel.rowForId(id)
        page.selectedTaskId = row >= 0 ? id : -1
        page.selectedRow = row
    }

    // Runs after every reload of the rows: a new page is shown from its first row.
    function followReload() {
        page.selectTask(page.selectedTaskId)
        if (taskService.currentPage !== page.shownPage) {
            page.shownPage = taskService.currentPage
            table.showFirstRow()
        }
    }

    function focusTaskById(id) {
        const row = taskModel.rowForId(id)
        if (row >= 0) {
            page.selectTask(id)
            table.scrollToRow(row)
            table.focusRow(row)
        }
    }

    // A reminder's task, shown without leaving the page: on the loaded page it is selected;
    // otherwise the filters are cleared and the page that holds it is loaded.
    function showTask(id) {
        if (taskModel.rowForId(id) < 0) {
            toolbar.clearFilters()
            page.loadPageHolding(id)
        }
        page.focusTaskById(id)
    }

    // Loads the page that holds the task, or the first page when the list holds no such task.
    function loadPageHolding(id) {
        taskService.loadPage(Math.max(1, taskService.pageOfTask(id)))
    }

    // Up and Down stay within the loaded page: at either end nothing changes.
    function moveSelection(step) {
        const total = taskModel.rowCountQml()
        if (total <= 0)
            return
        let target
        if (page.selectedRow < 0)
            target = step > 0 ? 0 : total - 1
        else
            target = Math.max(0, Math.min(total - 1, page.selectedRow + step))
        if (target === page.selectedRow)
            return
        page.selectTask(taskModel.taskIdAt(target))
        table.scrollToRow(target)
        table.focusRow(target)
    }

    function editSelectedTask() {
        const row = page.selectedRow
        if (row < 0)
            return
        taskDialog.openForEdit(page.selectedTaskId, taskModel.nameAt(row), taskModel.activeAt(row),
                               taskModel.expireAt(row))
    }

    // Space belongs to the table only: the buttons and fields keep theirs.
    function focusInTable() {
        let item = page.Window.activeFocusItem
        while (item && item !== table)
            item = item.parent
        return item === table
    }

    // Done becomes Pending and Pending Done; the notice names the task.
    function toggleDone(row) {
        const id = taskModel.taskIdAt(row)
        const name = taskModel.nameAt(row)
        const done = !taskModel.activeAt(row)
        if (id < 0 || !taskService.setTaskDone(id, done))
            return
        doneNotice.show((done ? "Done: " : "Pending again: ") + name)
    }

    function deleteSelectedTask() {
        if (page.selectedRow < 0)
            return
        const id = page.selectedTaskId
        page.selectTask(-1)
        taskService.deleteTask(id)
    }

    // The command the undo bar shows is undone; the keyboard goes back to the list.
    function undo() {
        taskService.undo()
        page.focusStart()
    }

    function logout() {
        auth.logout()
        page.stackView.replace(Qt.resolvedUrl("LoginPage.qml"), { "stackView": page.stackView })
    }

    function askSyncPasswordOnce() {
        if (!syncService.needsPassword || page.syncPasswordAsked)
            return
        page.syncPasswordAsked = true
        syncPasswordDialog.open()
    }

    // The keyboard starts in the table, or in the search box while there is nothing to list.
    function focusStart() {
        if (taskModel.rowCountQml() > 0)
            table.forceActiveFocus()
        else
            toolbar.focusSearch()
    }

    objectName: "tasksPage"
    title: "Tasks"

    Component.onCompleted: {
        taskService.loadPage(1)
        page.focusStart()
        page.askSyncPasswordOnce()
    }

    Connections {
        target: syncService

        function onNeedsPasswordChanged() {
            page.askSyncPasswordOnce()
        }
    }

    Connections {
        target: taskModel

        function onModelReset() {
            page.followReload()
        }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 12
        spacing: 10

        TaskToolBar {
            id: toolbar

            Layout.fillWidth: true
            hasSelection: page.selectedRow >= 0
            sync: syncService

            onNewRequested: taskDialog.openForCreate()
            onEditRequested: page.editSelectedTask()
            onDeleteRequested: page.deleteSelectedTask()
            onDeleteDoneRequested: confirmDeleteInactive.open()
            onSettingsRequested: settingsDialog.open()
            onLogoutRequested: page.logout()
            onSyncPasswordRequested: syncPasswordDialog.open()
        }

        TaskTable {
            id: table

            Layout.fillWidth: true
            Layout.fillHeight: true
            selectedRow: page.selectedRow
            tapEnabled: !taskDialog.visible

            onRowTapped: function(row) {
                page.selectTask(taskModel.taskIdAt(row))
                table.focusRow(row)
            }
            onDoneToggled: function(row) {
                page.toggleDone(row)
            }
        }

        UndoBar {
            id: undoBar

            Layout.fillWidth: true
            journal: taskUndo

            onUndoRequested: page.undo()
        }

        // A command refused because another program holds the file says so here; the task
        // dialog says it for a save.
        StatusLabel {
            id: fileInUseNote

            Layout.fillWidth: true
            visible: taskService.fileInUse && !taskDialog.visible
            text: fileInUseNote.visible
                  ? "The task file is in use by another program: nothing was changed" : ""
            color: Theme.error
            wrapMode: Text.Wrap
        }

        TaskPager {
            Layout.fillWidth: true
        }
    }

    TaskDialog {
        id: taskDialog

        // Centred, unless a reminder at the bottom edge would cover its buttons.
        anchors.centerIn: undefined
        x: (page.width - taskDialog.width) / 2
        y: Math.max(0, Math.min((page.height - taskDialog.height) / 2,
                                page.height - taskDialog.height - Theme.toastStrip))

        onDismissed: page.selectTask(-1)
    }

    DeleteDoneDialog {
        id: confirmDeleteInactive
    }

    TaskNotice {
        id: doneNotice
    }

    SyncPasswordDialog {
        id: syncPasswordDialog

        sync: syncService
    }

    SettingsDialog {
        id: settingsDialog

        objectName: "settingsDialog"
        // Centred, unless a reminder at the bottom edge would cover its buttons; a dialog
        // higher than the space above a reminder scrolls.
        anchors.centerIn: undefined
        height: Math.min(settingsDialog.implicitHeight, page.height - Theme.toastStrip)
        x: (page.width - settingsDialog.width) / 2
        y: Math.max(0, Math.min((page.height - settingsDialog.height) / 2,
                                page.height - settingsDialog.height - Theme.toastStrip))

        onAccountDeleted: page.stackView.replace(Qt.resolvedUrl("LoginPage.qml"),
                                                 { "stackView": page.stackView })
    }

    Timer {
        interval: 200
        running: page.focusTaskId > 0
        onTriggered: page.focusTaskById(page.focusTaskId)
    }

    Shortcut {
        sequence: "Ctrl+F"
        onActivated: toolbar.focusSearch()
    }

    Shortcut {
        sequence: "Ctrl+N"
        enabled: !taskDialog.visible
        onActivated: {
            taskDialog.openForCreate()
            taskDialog.focusName()
        }
    }

    Shortcut {
        sequence: "Ctrl+L"
        enabled: !taskDialog.visible
        onActivated: page.logout()
    }

    Shortcut {
        sequence: "Right"
        enabled: !taskDialog.visible && taskService.currentPage < taskService.totalPages
        onActivated: taskService.loadPage(taskService.currentPage + 1)
    }

    Shortcut {
        sequence: "Left"
        enabled: !taskDialog.visible && taskService.currentPage > 1
        onActivated: taskService.loadPage(taskService.currentPage - 1)
    }

    Shortcut {
        sequence: "Home"
        enabled: !taskDialog.visible
        onActivated: taskService.loadPage(1)
    }

    Shortcut {
        sequence: "End"
        enabled: !taskDialog.visible
        onActivated: taskService.loadPage(taskService.totalPages)
    }

    Shortcut {
        sequence: "Up"
        enabled: !taskDialog.visible
        onActivated: page.moveSelection(-1)
    }

    Shortcut {
        sequence: "Down"
        enabled: !taskDialog.visible
        onActivated: page.moveSelection(1)
    }

    Shortcut {
        sequence: "Ctrl+E"
        enabled: !taskDialog.visible && page.selectedRow >= 0
        onActivated: page.editSelectedTask()
    }

    Shortcut {
        sequence: "Ctrl+Z"
        enabled: !taskDialog.visible && taskUndo.canUndo
        onActivated: page.undo()
    }

    Shortcut {
        sequence: "Space"
        enabled: !taskDialog.visible && page.selectedRow >= 0 && page.focusInTable()
        onActivated: page.toggleDone(page.selectedRow)
    }

    Shortcut {
        sequence: "Delete"
        enabled: !taskDialog.visible && page.selectedRow >= 0
        onActivated: page.deleteSelectedTask()
    }
}
