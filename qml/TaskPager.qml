import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The row below the table: page navigation, the counters and the page size.
RowLayout {
    id: pager

    spacing: 10

    ActionButton {
        objectName: "prevButton"
        text: "Prev"
        enabled: taskService.currentPage > 1
        onClicked: taskService.loadPage(taskService.currentPage - 1)
    }

    Label {
        objectName: "pageLabel"
        text: "Page " + taskService.currentPage + " / " + taskService.totalPages
        color: Theme.text
    }

    ActionButton {
        objectName: "nextButton"
        text: "Next"
        enabled: taskService.currentPage < taskService.totalPages
        onClicked: taskService.loadPage(taskService.currentPage + 1)
    }

    Row {
        spacing: 12

        Label {
            text: "Done: " + taskService.activeCount
            color: Theme.doneCount
            font.pixelSize: 14
        }

        Label {
            text: "Pending: " + taskService.inactiveCount
            color: Theme.pendingCount
            font.pixelSize: 14
        }

        Label {
            text: "Total: " + taskService.totalCount
            color: Theme.totalCount
            font.pixelSize: 14
        }
    }

    Item {
        Layout.fillWidth: true
    }

    // Shows 25 for a page size that is not one of the entries; the service keeps it.
    ChoiceBox {
        id: pageSizeBox

        objectName: "pageSizeBox"
        model: [10, 25, 50, 100]
        currentIndex: {
            const index = pageSizeBox.model.indexOf(taskService.pageSize)
            return index >= 0 ? index : 1
        }

        Accessible.name: "Tasks per page"
        onActivated: function(index) {
            taskService.pageSize = pageSizeBox.model[index]
            taskService.loadPage(1)
        }
    }
}
