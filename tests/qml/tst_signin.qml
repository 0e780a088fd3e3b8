import QtQuick
import QtQuick.Controls
import QtTest
import TarvikQml
import "items.js" as Items

TestCase {
    id: testCase

    name: "SignInAndRegistration"
    when: windowShown
    width: 1300
    height: 700
    visible: true

    Component {
        id: stackComponent

        StackView {
            width: testCase.width
            height: testCase.height
        }
    }

    function initTestCase() {
        verify(auth.registerUser("taken", "secret-password", "Taken Person"))
    }

    function cleanup() {
        auth.logout()
    }

    function field(page, placeholder) {
        const found = Items.findItem(page, item => item.placeholderText === placeholder)
        verify(found, "no field " + placeholder)
        return found
    }

    function button(page, label) {
        const found = Items.findItem(page, item => item.text === label && item.clicked !== undefined)
        verify(found, "no button " + label)
        return found
    }

    function label(page, color) {
        const found = Items.findItem(page, item => item.wrapMode !== undefined
                               && item.placeholderText === undefined
                               && Qt.colorEqual(item.color, color))
        verify(found, "no label in " + color)
        return found
    }

    function openSignIn() {
        const stack = createTemporaryObject(stackComponent, testCase)
        stack.push("qrc:/qt/qml/TarvikQml/LoginPage.qml", { "stackView": stack },
                   StackView.Immediate)
        verify(waitForItemPolished(stack.currentItem))
        return stack
    }

    // The page opens with the keyboard in its first field.
    function openRegistration(stack) {
        mouseClick(button(stack.currentItem, "Create account"))
        compare(stack.depth, 2)
        tryCompare(stack, "busy", false)
        verify(waitForItemPolished(stack.currentItem))
        tryVerify(() => field(stack.currentItem, "Full name").activeFocus)
        return stack.currentItem
    }

    function fill(page, values) {
        for (const placeholder in values)
            field(page, placeholder).text = values[placeholder]
    }

    function test_wrongPasswordKeepsTheFields() {
        const stack = openSignIn()
        const page = stack.currentItem
        fill(page, { "Username": "taken", "Password": "wrong-password" })

        mouseClick(button(page, "Sign in"))

        const error = label(page, "tomato")
        compare(error.text, "Invalid credentials (or user inactive).")
        compare(field(page, "Username").text, "taken")
        compare(field(page, "Password").text, "wrong-password")
        compare(auth.loggedIn, false)
        compare(stack.currentItem, page)
    }

    function test_registrationChecks_data() {
        return [
            { tag: "empty full name with a short password", fullName: "", username: "x",
              password: "short", confirm: "other", message: "Insert full name." },
            { tag: "full name of blanks", fullName: "   ", username: "newcomer",
              password: "long enough", confirm: "long enough", message: "Insert full name." },
            { tag: "two letters in blanks are too short", fullName: "Ann", username: "  ab  ",
              password: "long enough", confirm: "long enough", message: "Username too short." },
            { tag: "seven characters are too short", fullName: "Ann", username: "ann",
              password: "1234567", confirm: "1234567",
              message: "Password must be at least 8 characters." },
            { tag: "eight blanks pass the length check", fullName: "Ann", username: "ann",
              password: "        ", confirm: "       ", message: "Passwords do not match." },
            { tag: "the user name is taken", fullName: "Someone Else", username: "taken",
              password: "12345678", confirm: "12345678",
              message: "Registration failed (username already exists or DB error)." }
        ]
    }

    function test_registrationChecks(data) {
        const stack = openSignIn()
        const page = openRegistration(stack)
        fill(page, {
                 "Full name": data.fullName,
                 "Username": data.username,
                 "Password (min 8 chars)": data.password,
                 "Confirm password": data.confirm
             })

        mouseClick(button(page, "Register"))

        compare(label(page, "tomato").text, data.message)
        compare(stack.depth, 2)
        compare(stack.currentItem, page)

        // The message goes once a field is edited.
        keyClick(Qt.Key_X)
        compare(label(page, "tomato").text, "")
    }

    function test_successfulRegistrationReturnsToSignIn() {
        const stack = openSignIn()
        const signIn = stack.currentItem
        fill(signIn, { "Username": "typed before", "Password": "typed too" })
        const page = openRegistration(stack)
        fill(page, {
                 "Full name": "  Grace Hopper ",
                 "Username": " grace ",
                 "Password (min 8 chars)": "compiler 1952",
                 "Confirm password": "compiler 1952"
             })

        mouseClick(button(page, "Register"))

        compare(label(page, "lightgreen").text, "Account created. You can login now.")
        compare(stack.depth, 1)
        compare(stack.currentItem, signIn)
        compare(label(signIn, "lightgreen").text, "Account created, sign in")
        compare(field(signIn, "Username").text, "grace")
        compare(field(signIn, "Password").text, "")
        tryVerify(() => field(signIn, "Password").activeFocus)
        compare(auth.loggedIn, false)
        keyClick("c")
        compare(label(signIn, "lightgreen").text, "")
        verify(auth.login("grace", "compiler 1952"))
        compare(auth.userName, "Grace Hopper")
    }

    // Return in a field, or on the focused Register button, registers; on Back it goes back.
    function test_returnKey_data() {
        return [
            { tag: "in the first field", focus: "Full name", registered: true },
            { tag: "in the last field", focus: "Confirm password", registered: true },
            { tag: "on Register", focus: "Register", registered: true },
            { tag: "on Back", focus: "Back", registered: false }
        ]
    }

    function test_returnKey(data) {
        const stack = openSignIn()
        const page = openRegistration(stack)
        const userName = "return" + data.focus.replace(" ", "").toLowerCase()
        fill(page, {
                 "Full name": "Quick Return",
                 "Username": userName,
                 "Password (min 8 chars)": "12345678",
                 "Confirm password": "12345678"
             })
        const target = Items.findItem(page, item => item.activeFocusOnTab
                                      && [item.placeholderText, item.text].includes(data.focus))
        target.forceActiveFocus()

        keyClick(Qt.Key_Return)

        compare(stack.depth, 1)
        compare(auth.login(userName, "12345678"), data.registered)
    }

    function test_backKeepsTheSignInPage() {
        const stack = openSignIn()
        const signIn = stack.currentItem
        fill(signIn, { "Username": "half typed" })
        const page = openRegistration(stack)
        fill(page, { "Full name": "Left Early" })

        mouseClick(button(page, "Back"))

        compare(stack.depth, 1)
        compare(stack.currentItem, signIn)
        compare(field(signIn, "Username").text, "half typed")
    }
}
