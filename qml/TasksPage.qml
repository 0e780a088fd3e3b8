pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Page {
    id: page

    required property StackView stackView
    property int selectedRow: -1
    property var expireAtLocal: null
    property double focusTaskId: -1
    property string editMode: "create"
    property double editingId: -1

    function focusTaskById(id) {
        const row = taskModel.rowForId(id)
        if (row >= 0) {
            page.selectedRow = row
            page.scrollToRow(row)
        }
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
        page.selectedRow = target
        page.scrollToRow(target)
    }

    function scrollToRow(row) {
        if (table && row >= 0)
            table.positionViewAtRow(row, TableView.Visible)
    }

    function prepareNewTask() {
        page.editMode = "create"
        page.editingId = -1
        nameField.text = ""
        activeCheck.checked = false
        page.expireAtLocal = null
        taskDialog.open()
    }

    function editSelectedTask() {
        if (page.selectedRow < 0)
            return
        const row = page.selectedRow
        page.editMode = "edit"
        page.editingId = taskModel.taskIdAt(row)
        nameField.text = taskModel.nameAt(row)
        activeCheck.checked = taskModel.activeAt(row)
        // A task saved without a due time comes back as an invalid date.
        const expireAt = taskModel.expireAt(row)
        page.expireAtLocal = expireAt && !isNaN(expireAt.getTime()) ? new Date(expireAt) : null
        taskDialog.open()
    }

    function deleteSelectedTask() {
        if (page.selectedRow < 0)
            return
        const id = taskModel.taskIdAt(page.selectedRow)
        if (id > 0)
            taskService.deleteTask(id)
        page.selectedRow = -1
    }

    // The due time travels as UTC text; the name goes as typed and the service trims it.
    // When the service refuses the write, the dialog stays open so nothing typed is lost.
    function submit() {
        dlgErr.text = ""
        if (nameField.text.trim() === "" || !page.expireAtLocal) {
            dlgErr.text = "all fields are required"
            return
        }
        const expireText = page.expireAtLocal.toISOString()
        const saved = page.editMode === "create"
                ? taskService.createTask(nameField.text, expireText, activeCheck.checked)
                : taskService.updateTask(page.editingId, nameField.text, activeCheck.checked,
                                         expireText)
        if (!saved) {
            dlgErr.text = "could not save the task"
            return
        }
        taskDialog.close()
    }

    function okCalendar() {
        expirePicker.commitTypedTime(hh)
        expirePicker.commitTypedTime(mm)
        page.expireAtLocal = new Date(expirePicker.tmpDate)
        expirePicker.close()
    }

    function logout() {
        auth.logout()
        page.stackView.replace(Qt.resolvedUrl("LoginPage.qml"), { "stackView": page.stackView })
    }

    // The search box shows the service's search text, also on a page made while it is set.
    Component.onCompleted: {
        searchName.text = taskService.filterName
        taskService.loadPage(1)
    }

    Connections {
        target: taskService

        function onFilterNameChanged() {
            if (searchName.text.trim() !== taskService.filterName)
                searchName.text = taskService.filterName
        }
    }

    ColumnLayout {
        id: content

        anchors.fill: parent
        anchors.margins: 12
        spacing: 10

        RowLayout {
            id: toolbar

            Layout.fillWidth: true

            Label {
                id: welcome

                text: "Welcome, " + auth.userName
                textFormat: Text.PlainText
                color: "white"
                font.pixelSize: 18
            }

            Item {
                Layout.fillWidth: true
            }

            TextField {
                id: searchName

                objectName: "searchName"
                Layout.preferredWidth: 260
                Layout.minimumWidth: 200
                placeholderText: "Search by name..."
                onTextChanged: taskService.filterName = searchName.text
            }

            ComboBox {
                id: activeFilter

                objectName: "activeFilter"
                model: ["All", "Done", "Pending"]
                currentIndex: [-1, 1, 0].indexOf(taskService.filterActive)
                onActivated: function(index) {
                    taskService.filterActive = [-1, 1, 0][index]
                }
            }

            Button {
                id: clearButton

                objectName: "clearButton"
                text: "Clear"
                onClicked: {
                    searchName.text = ""
                    activeFilter.currentIndex = 0
                    taskService.filterName = ""
                    taskService.filterActive = -1
                }
            }

            Label {
                text: "   "
            }

            Button {
                id: newButton

                text: "New"
                onClicked: page.prepareNewTask()
            }

            Button {
                id: editButton

                text: "Edit"
                enabled: page.selectedRow >= 0
                onClicked: page.editSelectedTask()
            }

            Button {
                id: deleteButton

                text: "Delete"
                enabled: page.selectedRow >= 0
                onClicked: page.deleteSelectedTask()
            }

            Button {
                id: deleteDoneButton

                text: "Delete Done"
                onClicked: confirmDeleteInactive.open()
            }

            Label {
                text: "   "
            }

            Button {
                id: settingsButton

                text: "Settings"
                onClicked: settingsDialog.open()
            }

            Button {
                id: logoutButton

                text: "Logout"
                onClicked: page.logout()
            }
        }

        TableView {
            id: table

            objectName: "table"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: taskModel
            columnSpacing: 1
            rowSpacing: 1
            columnWidthProvider: function(column) {
                switch (column) {
                case 0:
                    return 70
                case 1:
                    return Math.max(200, table.width - 610)
                case 2:
                    return 90
                default:
                    return 220
                }
            }
            rowHeightProvider: function(row) {
                return 36
            }
            onWidthChanged: table.forceLayout()

            ScrollBar.vertical: ScrollBar {}
            ScrollBar.horizontal: ScrollBar {}

            delegate: Rectangle {
                id: cell

                required property int row
                required property int column
                required property var display

                color: cell.row === page.selectedRow ? "#721675"
                                                     : (cell.row % 2 === 0 ? "#1b1b1b" : "#161616")
                border.color: "#2a2a2a"

                Text {
                    anchors.fill: parent
                    anchors.margins: 10
                    visible: cell.column !== 2
                    text: cell.display === undefined ? "" : String(cell.display)
                    textFormat: Text.PlainText
                    color: "white"
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                }

                Rectangle {
                    anchors.centerIn: parent
                    width: 16
                    height: 16
                    radius: 8
                    visible: cell.column === 2
                    color: cell.display === true ? "#8bc34a" : cell.color
                    border.width: 1
                    border.color: "#bbbbbb"
                }

                TapHandler {
                    enabled: !taskDialog.visible && !expirePicker.visible
                    onTapped: page.selectedRow = cell.row
                }
            }
        }

        RowLayout {
            id: pager

            Layout.fillWidth: true
            spacing: 10

            Button {
                text: "Prev"
                enabled: taskService.currentPage > 1
                onClicked: taskService.loadPage(taskService.currentPage - 1)
            }

            Label {
                objectName: "pageLabel"
                text: "Page " + taskService.currentPage + " / " + taskService.totalPages
                color: "white"
            }

            Button {
                text: "Next"
                enabled: taskService.currentPage < taskService.totalPages
                onClicked: taskService.loadPage(taskService.currentPage + 1)
            }

            Row {
                spacing: 12

                Label {
                    text: "Done: " + taskService.activeCount
                    color: "#8bc34a"
                    font.pixelSize: 14
                }

                Label {
                    text: "Pending: " + taskService.inactiveCount
                    color: "#f44336"
                    font.pixelSize: 14
                }

                Label {
                    text: "Total: " + taskService.totalCount
                    color: "#bbbbbb"
                    font.pixelSize: 14
                }
            }

            Item {
                Layout.fillWidth: true
            }

            // Shows 25 for a page size that is not one of the entries; the service keeps it.
            ComboBox {
                id: pageSizeBox

                objectName: "pageSizeBox"
                model: [10, 25, 50, 100]
                currentIndex: {
                    const index = pageSizeBox.model.indexOf(taskService.pageSize)
                    return index >= 0 ? index : 1
                }
                onActivated: function(index) {
                    taskService.pageSize = pageSizeBox.model[index]
                    taskService.loadPage(1)
                }
            }
        }
    }

    Dialog {
        id: taskDialog

        objectName: "taskDialog"
        anchors.centerIn: parent
        width: 470
        modal: true
        title: page.editMode === "create" ? "New Task" : "Edit Task"

        Component.onCompleted: nameField.forceActiveFocus()

        ColumnLayout {
            width: 420
            spacing: 10

            TextField {
                id: nameField

                objectName: "nameField"
                Layout.fillWidth: true
                placeholderText: "Task name"
            }

            TextField {
                id: expireField

                objectName: "expireField"
                Layout.fillWidth: true
                readOnly: true
                placeholderText: "Expire at (pick date & time)"
                text: page.expireAtLocal ? Qt.formatDateTime(page.expireAtLocal, "yyyy-MM-dd HH:mm")
                                         : ""

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

            Label {
                id: dlgErr

                objectName: "dlgErr"
                Layout.fillWidth: true
                color: "tomato"
                wrapMode: Text.Wrap
            }

            RowLayout {
                Button {
                    text: "Save"
                    onClicked: page.submit()
                }

                Button {
                    text: "Close"
                    onClicked: {
                        taskDialog.close()
                        page.selectedRow = -1
                    }
                }
            }
        }

        Shortcut {
            sequence: "Return"
            enabled: taskDialog.visible
            onActivated: page.submit()
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

    Dialog {
        id: confirmDeleteInactive

        objectName: "confirmDeleteInactive"
        anchors.centerIn: parent
        modal: true
        title: "Confirm deletion"
        standardButtons: Dialog.Yes | Dialog.No

        onAccepted: taskService.deleteAllInactive()

        Label {
            text: "Delete ALL tasks Done?\nThis action cannot be undone."
            color: "white"
            padding: 10
        }
    }

    Popup {
        id: expirePicker

        property var tmpDate: page.expireAtLocal ? new Date(page.expireAtLocal) : new Date()

        // A number typed into a spin box counts even when OK comes before the box lost focus.
        function commitTypedTime(box) {
            const typed = parseInt(box.contentItem.text, 10)
            if (!isNaN(typed))
                box.value = typed
        }

        function stepHours(delta) {
            const hours = expirePicker.tmpDate.getHours() + delta
            if (hours < 0 || hours > 23)
                return
            expirePicker.tmpDate.setHours(hours)
            hh.value = hours
        }

        function stepMinutes(delta) {
            const minutes = expirePicker.tmpDate.getMinutes() + delta
            if (minutes < 0 || minutes > 59)
                return
            expirePicker.tmpDate.setMinutes(minutes)
            mm.value = minutes
        }

        objectName: "expirePicker"
        anchors.centerIn: parent
        width: 420
        padding: 12
        modal: true
        focus: true

        background: Rectangle {
            color: "#202020"
            radius: 12
            border.color: "#3a3a3a"
        }

        onAboutToShow: {
            expirePicker.tmpDate = page.expireAtLocal ? new Date(page.expireAtLocal) : new Date()
            hh.value = expirePicker.tmpDate.getHours()
            mm.value = expirePicker.tmpDate.getMinutes()
            datePicker.selectDate(expirePicker.tmpDate)
        }

        ColumnLayout {
            anchors.fill: parent
            spacing: 10

            MyDatePicker {
                id: datePicker

                objectName: "datePicker"
                Layout.fillWidth: true
                // This qmllint knows no type for a control's locale.
                locale: Qt.locale("en_EN") // qmllint disable type
                month: expirePicker.tmpDate.getMonth()
                year: expirePicker.tmpDate.getFullYear()

                // A new day keeps the time of day already chosen.
                onDateSelected: function(d) {
                    const hours = expirePicker.tmpDate.getHours()
                    const minutes = expirePicker.tmpDate.getMinutes()
                    const next = new Date(d)
                    next.setHours(hours, minutes, 0, 0)
                    expirePicker.tmpDate = next
                }
            }

            RowLayout {
                spacing: 10

                Label {
                    text: "Time:"
                    color: "white"
                }

                SpinBox {
                    id: hh

                    objectName: "hh"
                    from: 0
                    to: 23
                    editable: true
                    onValueChanged: expirePicker.tmpDate.setHours(hh.value)
                }

                Label {
                    text: ":"
                    color: "white"
                }

                SpinBox {
                    id: mm

                    objectName: "mm"
                    from: 0
                    to: 59
                    editable: true
                    onValueChanged: expirePicker.tmpDate.setMinutes(mm.value)
                }

                Item {
                    Layout.fillWidth: true
                }

                Button {
                    text: "Cancel"
                    onClicked: expirePicker.close()
                }

                Button {
                    text: "OK"
                    onClicked: page.okCalendar()
                }
            }
        }

        Shortcut {
            sequence: "Return"
            enabled: expirePicker.visible
            onActivated: page.okCalendar()
        }

        Shortcut {
            sequence: "Ctrl+Up"
            enabled: expirePicker.visible
            onActivated: expirePicker.stepHours(1)
        }

        Shortcut {
            sequence: "Ctrl+Down"
            enabled: expirePicker.visible
            onActivated: expirePicker.stepHours(-1)
        }

        Shortcut {
            sequence: "Ctrl+Right"
            enabled: expirePicker.visible
            onActivated: expirePicker.stepMinutes(1)
        }

        Shortcut {
            sequence: "Ctrl+Left"
            enabled: expirePicker.visible
            onActivated: expirePicker.stepMinutes(-1)
        }
    }

    SettingsDialog {
        id: settingsDialog
    }

    Timer {
        id: focusTimer

        interval: 200
        running: page.focusTaskId > 0
        onTriggered: page.focusTaskById(page.focusTaskId)
    }

    Shortcut {
        sequence: "Ctrl+F"
        onActivated: {
            searchName.forceActiveFocus()
            searchName.selectAll()
        }
    }

    Shortcut {
        sequence: "Ctrl+N"
        enabled: !taskDialog.visible
        onActivated: {
            page.prepareNewTask()
            nameField.forceActiveFocus()
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
        sequence: "Delete"
        enabled: !taskDialog.visible && page.selectedRow >= 0
        onActivated: page.deleteSelectedTask()
    }
}
