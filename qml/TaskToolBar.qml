import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The row above the table: the greeting, the search and Done filter, the page's commands and the
// sync's state.
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
    }

    // The search box shows the service's search text, also on a page made while it is set.
    Component.onCompleted: searchName.text = taskService.filterName

    Connections {
        target: taskService

        function onFilterNameChanged() {
            if (searchName.text.trim() !== taskService.filterName)
                searchName.text = taskService.filterName
        }
    }

    // A long name gives way before any control does.
    Label {
        id: welcome

        Layout.fillWidth: true
        Layout.maximumWidth: welcome.implicitWidth
        Layout.minimumWidth: Math.min(welcome.implicitWidth, 60)
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
        Layout.minimumWidth: 160
        placeholderText: "Search by name..."

        Accessible.name: "Search by name"
        onTextChanged: taskService.filterName = searchName.text
    }

    ChoiceBox {
        id: activeFilter

        objectName: "activeFilter"
        model: ["All", "Done", "Pending"]
        currentIndex: [-1, 1, 0].indexOf(taskService.filterActive)

        Accessible.name: "Show tasks"
        onActivated: function(index) {
            taskService.filterActive = [-1, 1, 0][index]
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
