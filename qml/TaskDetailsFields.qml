pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The task dialog's notes, priority and tags. The tags are typed comma-separated; the
// account's tags that begin with the one being typed are offered below the field.
ColumnLayout {
    id: details

    property alias notes: notesField.text
    property alias priority: priorityChoice.currentIndex
    property alias tags: tagsField.text
    property var knownTags: []
    // Return makes a new line here instead of saving.
    readonly property bool notesFocused: notesField.activeFocus

    function reset() {
        details.load({ "notes": "", "priority": 0, "tags": "" })
    }

    function load(values) {
        notesField.text = values.notes || ""
        priorityChoice.currentIndex = values.priority || 0
        tagsField.text = values.tags || ""
        details.knownTags = taskService.tagNames()
    }

    // Saves them for the task; false when the service refused.
    function save(taskId) {
        return taskService.saveTaskDetails(taskId, notesField.text, priorityChoice.currentIndex,
                                           tagsField.text)
    }

    // The known tags that begin with the part after the last comma, and are not given yet.
    function suggestions() {
        const parts = tagsField.text.split(",")
        const typed = parts[parts.length - 1].trim().toLowerCase()
        const given = parts.slice(0, -1).map(part => part.trim().toLowerCase())
        if (typed === "" || !tagsField.activeFocus)
            return []
        return details.knownTags.filter(tag => tag.toLowerCase().startsWith(typed)
                                        && tag.toLowerCase() !== typed
                                        && given.indexOf(tag.toLowerCase()) < 0).slice(0, 6)
    }

    function complete(tag) {
        const parts = tagsField.text.split(",")
        parts[parts.length - 1] = (parts.length > 1 ? " " : "") + tag
        tagsField.text = parts.join(",") + ", "
        tagsField.forceActiveFocus()
    }

    spacing: 10

    ScrollView {
        Layout.fillWidth: true
        Layout.preferredHeight: 60

        TextArea {
            id: notesField

            objectName: "notesField"
            wrapMode: TextArea.Wrap
            placeholderText: "Notes"

            Accessible.name: "Notes"
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10

        Label {
            text: "Priority"
            color: Theme.text
        }

        ChoiceBox {
            id: priorityChoice

            objectName: "priorityChoice"
            model: ["None", "Low", "Medium", "High"]

            Accessible.name: "Priority"
        }

        TextField {
            id: tagsField

            objectName: "tagsField"
            Layout.fillWidth: true
            placeholderText: "Tags (comma-separated)"

            Accessible.name: "Tags"
            Keys.onTabPressed: function(event) {
                const offered = details.suggestions()
                if (offered.length > 0)
                    details.complete(offered[0])
                else
                    event.accepted = false
            }
        }
    }

    Flow {
        objectName: "tagSuggestions"
        Layout.fillWidth: true
        spacing: 6
        visible: tagRepeater.count > 0

        Repeater {
            id: tagRepeater

            model: details.suggestions()

            ActionButton {
                required property string modelData

                text: modelData
                onClicked: details.complete(modelData)
            }
        }
    }
}
