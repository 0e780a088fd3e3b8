import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The reminder corner: every reminder stays until the person acts on it. The newest three show,
// newest at the bottom; "and N more" opens the list of all of them. The window keeps its pages
// above the corner (reservedHeight), so a reminder never covers a control.
Popup {
    id: stack

    readonly property int shownAtOnce: 3
    readonly property int count: notices.count
    readonly property int reservedHeight: stack.opened ? stack.height + 2 * stack.margin : 0
    readonly property int margin: 20
    property bool expanded: false
    // How many toasts fit in half the window.
    readonly property int fitting: Math.max(2 * stack.shownAtOnce, Math.floor((stack.parent ? stack.parent.height / 2 : 400) / 110))
    // Notices that are no reminder get keys of their own below every task id.
    property double noticeSerial: -1

    signal showTask(double taskId)

    // A reminder of a task replaces that task's earlier one.
    function addReminder(taskId, message, detail) {
        removeTask(taskId);
        add(taskId, message, detail, true);
    }

    function addNotice(taskId, message, detail) {
        stack.noticeSerial -= 1;
        add(stack.noticeSerial, message, detail, false, taskId);
    }

    function add(key, message, detail, reminder, target) {
        notices.append({
                "key": key,
                "target": target === undefined ? key : target,
                "title": message,
                "detail": detail,
                "isReminder": reminder
            });
        stack.open();
    }

    function removeTask(key) {
        for (let i = notices.count - 1; i >= 0; --i) {
            if (notices.get(i).key === key)
                notices.remove(i);
        }
        if (notices.count <= stack.shownAtOnce)
            stack.expanded = false;
        if (notices.count === 0)
            stack.close();
    }

    function clear() {
        notices.clear();
        stack.expanded = false;
        stack.close();
    }

    // A reminder goes the same way wherever it was acted on: the service withdraws it.
    function dismiss(key, reminder) {
        notifier.stopSound();
        if (reminder)
            notifier.dismiss(key);
        else
            removeTask(key);
    }

    function show(index) {
        const notice = notices.get(index);
        const target = notice.target;
        stack.dismiss(notice.key, notice.isReminder);
        stack.showTask(target);
    }

    function newest() {
        return notices.count > 0 ? notices.count - 1 : -1;
    }

    x: stack.parent ? stack.parent.width - stack.width - stack.margin : stack.margin
    y: stack.parent ? stack.parent.height - stack.height - stack.margin : stack.margin
    width: 360
    padding: 0
    modal: false
    focus: false
    closePolicy: Popup.NoAutoClose
    background: null

    ListModel {
        id: notices
    }

    ColumnLayout {
        spacing: 6

        ActionButton {
            Layout.alignment: Qt.AlignRight
            visible: notices.count > stack.shownAtOnce
            text: stack.expanded ? "Show fewer" : "and " + (notices.count - stack.shownAtOnce) + " more"
            Accessible.name: stack.expanded ? "Show fewer reminders" : "Show all " + notices.count + " reminders"

            onClicked: stack.expanded = !stack.expanded
        }

        Column {
            id: column

            Layout.preferredWidth: stack.width
            spacing: 6

            Repeater {
                id: repeater

                model: notices

                delegate: Toast {
                    required property int index
                    required property double key
                    required property string title
                    required property string detail
                    required property bool isReminder

                    // Collapsed, only the newest few show; opened, as many as fit.
                    visible: index >= notices.count - (stack.expanded ? stack.fitting : stack.shownAtOnce)
                    height: implicitHeight
                    taskId: key
                    message: title
                    subMessage: detail
                    reminder: isReminder

                    onShowRequested: stack.show(index)
                    onDoneRequested: notifier.markDone(key)
                    onSnoozeRequested: function (choice) {
                        notifier.snooze(key, choice);
                    }
                    onDismissRequested: stack.dismiss(key, isReminder)
                }
            }
        }
    }

    // Keys for the newest notice wherever the focus is; Ctrl+Shift+R moves the focus to it.
    Shortcut {
        sequence: "Ctrl+Shift+S"
        context: Qt.ApplicationShortcut
        enabled: stack.opened
        onActivated: stack.show(stack.newest())
    }

    Shortcut {
        sequence: "Ctrl+Shift+D"
        context: Qt.ApplicationShortcut
        enabled: stack.opened
        onActivated: {
            const notice = notices.get(stack.newest());
            stack.dismiss(notice.key, notice.isReminder);
        }
    }

    Shortcut {
        sequence: "Ctrl+Shift+R"
        context: Qt.ApplicationShortcut
        enabled: stack.opened
        onActivated: {
            const item = repeater.itemAt(stack.newest());
            if (item)
                item.focusFirst();
        }
    }
}
