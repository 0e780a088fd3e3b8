import QtQuick
import QtTest
import TarvikQml

TestCase {
    id: testCase

    name: "StyledControls"
    when: windowShown
    width: 400
    height: 300
    visible: true

    Component {
        id: buttonComponent

        StyledButton {
            x: 50
            y: 50
            text: "Save"
        }
    }

    Component {
        id: textComponent

        StyledText {
            x: 50
            y: 50
            width: 200
            placeholderText: "Task name"
        }
    }

    // Something else to hold the focus, away from the control under test.
    Item {
        id: elsewhere

        x: 300
        y: 250
        width: 10
        height: 10
    }

    function setUp(control, data) {
        verify(waitForItemPolished(control))
        control.enabled = data.enabled
        if (data.focus)
            control.forceActiveFocus()
        else
            elsewhere.forceActiveFocus()
        if (data.hovered) {
            mouseMove(control, control.width / 2, control.height / 2)
            tryCompare(control, "hovered", true)
        } else {
            mouseMove(testCase, 5, 5)
            tryCompare(control, "hovered", false)
        }
    }

    function expectColor(actual, expected, what) {
        verify(Qt.colorEqual(actual, expected), what + ": " + actual + " instead of " + expected)
    }

    function test_buttonColours_data() {
        const base = "#121212"
        return [
            { tag: "normal", enabled: true, focus: false, hovered: false, pressed: false,
              fill: base, border: "#ffffff", text: "white" },
            { tag: "hovered", enabled: true, focus: false, hovered: true, pressed: false,
              fill: Qt.lighter(base, 1.15), border: "#aeb8ff", text: "white" },
            { tag: "focused", enabled: true, focus: true, hovered: false, pressed: false,
              fill: base, border: "#7291ff", text: "white" },
            { tag: "hover wins over focus", enabled: true, focus: true, hovered: true,
              pressed: false, fill: Qt.lighter(base, 1.15), border: "#aeb8ff", text: "white" },
            { tag: "pressed wins over hover", enabled: true, focus: false, hovered: true,
              pressed: true, fill: Qt.darker(base, 1.2), border: "#aeb8ff", text: "white" },
            { tag: "disabled", enabled: false, focus: false, hovered: false, pressed: false,
              fill: "#2c2c34", border: "#ffffff", text: "#7f7f87" }
        ]
    }

    function test_buttonColours(data) {
        const button = createTemporaryObject(buttonComponent, testCase)
        setUp(button, data)
        if (data.pressed)
            mousePress(button)

        expectColor(button.background.color, data.fill, "fill")
        expectColor(button.background.border.color, data.border, "border")
        expectColor(button.contentItem.color, data.text, "text")

        if (data.pressed)
            mouseRelease(button)
    }

    function test_textFieldColours_data() {
        const base = "#121212"
        return [
            { tag: "normal", enabled: true, focus: false, hovered: false,
              fill: base, border: "#ffffff", text: "white" },
            { tag: "hovered", enabled: true, focus: false, hovered: true,
              fill: Qt.lighter(base, 1.08), border: "#aeb8ff", text: "white" },
            { tag: "focused", enabled: true, focus: true, hovered: false,
              fill: Qt.darker(base, 1.12), border: "#7291ff", text: "white" },
            { tag: "focus wins over hover", enabled: true, focus: true, hovered: true,
              fill: Qt.darker(base, 1.12), border: "#7291ff", text: "white" },
            { tag: "disabled", enabled: false, focus: false, hovered: false,
              fill: "#2c2c34", border: "#5b606b", text: "#7f7f87" }
        ]
    }

    function test_textFieldColours(data) {
        const field = createTemporaryObject(textComponent, testCase)
        setUp(field, data)

        expectColor(field.background.color, data.fill, "fill")
        expectColor(field.background.border.color, data.border, "border")
        expectColor(field.color, data.text, "text")
        compare(field.background.radius, 4)
    }

    function test_textFieldFollowsItsBaseColour() {
        const field = createTemporaryObject(textComponent, testCase, {
                                                "baseColor": "#304050",
                                                "focusBorderColor": "#00ff00"
                                            })
        expectColor(field.hoverFillColor, Qt.lighter("#304050", 1.08), "hover fill")
        expectColor(field.focusFillColor, Qt.darker("#304050", 1.12), "focus fill")

        field.forceActiveFocus()
        expectColor(field.background.color, Qt.darker("#304050", 1.12), "fill")
        expectColor(field.background.border.color, "#00ff00", "border")
    }
}
