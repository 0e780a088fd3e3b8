import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The row above the table: the greeting, the search, the Done and tag filters and the order,
// the page's commands and the sync's state.
RowLayout {
    id: toolbar

    required property bool hasSelection
    required property var sync

    signal newRequested
    signal editRequested
    signal deleteRequested
    signal deleteDoneRequested
    signal settingsRequested
    signal logoutRequested
    signal syncPasswordRequested

    function focusSearch() {
        searchName.forceActiveFocus()
        searchName.selectAll()
    }

    function clearFilters() {
        searchName.text = ""
        activeFilter.currentIndex = 0
        taskService.filterName = ""
        taskService.filterActive = -1
        taskService.filterTag = ""
    }

    // The tags to choose from are read again whenever the list opens.
    function refreshTags() {
        tagFilter.model = ["All tags"].concat(taskService.tagNames())
        tagFilter.currentIndex = Math.max(0, tagFilter.model.indexOf(taskService.filterTag))
    }

    spacing: 4

    // The search box shows the service's search text, also on a page made while it is set.
    Component.onCompleted: {
        searchName.text = taskService.filterName
        toolbar.refreshTags()
    }

    Connections {
        target: taskService

        function onFilterNameChanged() {
            if (searchName.text.trim() !== taskService.filterName)
                searchName.text = taskService.filterName
        }

        function onFilterTagChanged() {
            toolbar.refreshTags()
        }
    }

    // A long name gives way before any control does.
    Label {
        id: welcome

        Layout.fillWidth: true
        Layout.maximumWidth: welcome.implicitWidth
        Layout.minimumWidth: Math.min(welcome.implicitWidth, 40)
        text: "Welcome, " + auth.userName
        textFormat: Text.PlainText
        elide: Text.ElideRight
        color: Theme.text
        font.pixelSize: 18
    }

    Item {
        Layout.fillWidth: true
    }

    TextField {
        id: searchName

        objectName: "searchName"
        Layout.fillWidth: true
        Layout.preferredWidth: 260
        Layout.maximumWidth: 260
        Layout.minimumWidth: 100
        placeholderText: "Search by name..."

        Accessible.name: "Search by name"
        onTextChanged: taskService.filterName = searchName.text
    }

    ChoiceBox {
        id: activeFilter

        objectName: "activeFilter"
        Layout.preferredWidth: 96
        model: ["All", "Done", "Pending"]
        currentIndex: [-1, 1, 0].indexOf(taskService.filterActive)

        Accessible.name: "Show tasks"
        onActivated: function(index) {
            taskService.filterActive = [-1, 1, 0][index]
        }
    }

    ChoiceBox {
        id: tagFilter

        objectName: "tagFilter"
        Layout.fillWidth: true
        Layout.preferredWidth: 96
        Layout.maximumWidth: 96
        Layout.minimumWidth: 64
        model: ["All tags"]

        Accessible.name: "Show tag"
        onActivated: function(index) {
            taskService.filterTag = index > 0 ? tagFilter.model[index] : ""
        }
        onPressedChanged: {
            if (tagFilter.pressed && !tagFilter.popup.visible)
                toolbar.refreshTags()
        }
        onActiveFocusChanged: {
            if (tagFilter.activeFocus)
                toolbar.refreshTags()
        }
    }

    ChoiceBox {
        id: sortChoice

        objectName: "sortChoice"
        Layout.fillWidth: true
        Layout.preferredWidth: 116
        Layout.maximumWidth: 116
        Layout.minimumWidth: 72
        model: ["Newest first", "Due soonest", "Priority"]
        currentIndex: taskService.sortOrder

        Accessible.name: "Sort by"
        onActivated: function(index) {
            taskService.sortOrder = index
        }
    }

    ActionButton {
        objectName: "clearButton"
        text: "Clear"
        onClicked: toolbar.clearFilters()
    }

    Label {
        text: "   "

        Accessible.ignored: true
    }

    ActionButton {
        objectName: "newButton"
        text: "New"
        onClicked: toolbar.newRequested()
    }

    ActionButton {
        objectName: "editButton"
        text: "Edit"
        enabled: toolbar.hasSelection
        onClicked: toolbar.editRequested()
    }

    ActionButton {
        objectName: "deleteButton"
        text: "Delete"
        enabled: toolbar.hasSelection
        onClicked: toolbar.deleteRequested()
    }

    ActionButton {
        objectName: "deleteDoneButton"
        text: "Delete Done"
        onClicked: toolbar.deleteDoneRequested()
    }

    Label {
        text: "   "

        Accessible.ignored: true
    }

    SyncIndicator {
        sync: toolbar.sync

        onPasswordRequested: toolbar.syncPasswordRequested()
        onSettingsRequested: toolbar.settingsRequested()
    }

    ActionButton {
        objectName: "settingsButton"
        text: "Settings"
        onClicked: toolbar.settingsRequested()
    }

    ActionButton {
        objectName: "logoutButton"
        text: "Logout"
        onClicked: toolbar.logoutRequested()
    }
}
