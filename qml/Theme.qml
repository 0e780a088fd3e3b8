pragma Singleton

import QtQuick

// The colours and sizes of the tasks page and its parts, kept in one place.
QtObject {
    readonly property color text: "white"
    readonly property color quietText: "#9a9a9a"
    readonly property color error: "tomato"
    readonly property color success: "lightgreen"
    readonly property color cellBorder: "#2a2a2a"
    readonly property color selectedRow: "#721675"
    readonly property color evenRow: "#1b1b1b"
    readonly property color oddRow: "#161616"
    readonly property color doneMark: "#8bc34a"
    readonly property color markBorder: "#bbbbbb"
    readonly property color doneCount: "#8bc34a"
    readonly property color pendingCount: "#f44336"
    readonly property color totalCount: "#bbbbbb"
    readonly property color popupFill: "#202020"
    readonly property color popupBorder: "#3a3a3a"
    readonly property color selectedDay: "#2a6df4"

    // The smallest window in which every control and dialog of every page fits.
    readonly property int minimumWindowWidth: 1040
    readonly property int minimumWindowHeight: 680
    // The strip along the bottom edge that a reminder may cover; dialogs keep out of it.
    readonly property int toastStrip: 140
}
