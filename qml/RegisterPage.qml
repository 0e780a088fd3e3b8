import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Page {
    id: registerPage

    required property StackView stackView

    title: "Create account"

    // The new account's user name, as the service stored it, just before the page leaves.
    signal registered(string userName)

    // The first check that fails names the problem and takes the focus to its field; the
    // service is asked only when all pass. Return in any field or on the focused button runs it,
    // and the message goes once a field is edited.
    function register() {
        messageLabel.color = Theme.error
        messageLabel.text = ""
        const problem = registerPage.firstProblem()
        if (problem) {
            messageLabel.text = problem.message
            problem.field.forceActiveFocus()
            return
        }
        if (auth.registerUser(usernameField.text, passwordField.text, fullNameField.text)) {
            messageLabel.color = Theme.success
            messageLabel.text = "Account created. You can login now."
            registerPage.registered(usernameField.text.trim())
            registerPage.stackView.pop()
        } else {
            messageLabel.text = "Registration failed (username already exists or DB error)."
            usernameField.forceActiveFocus()
        }
    }

    function firstProblem() {
        if (fullNameField.text.trim().length === 0)
            return { field: fullNameField, message: "Insert full name." }
        if (usernameField.text.trim().length < 3)
            return { field: usernameField, message: "Username too short." }
        if (passwordField.text.length < 8)
            return { field: passwordField, message: "Password must be at least 8 characters." }
        if (passwordField.text !== confirmField.text)
            return { field: confirmField, message: "Passwords do not match." }
        return null
    }

    // Pushed with a transition: the first field takes the focus once the page is in place.
    StackView.onActivated: fullNameField.forceActiveFocus()

    ColumnLayout {
        anchors.centerIn: parent
        width: 420
        spacing: 12

        Label {
            text: "Create account"
            color: "white"
            font.pixelSize: 22

            Accessible.role: Accessible.Heading
        }

        TextField {
            id: fullNameField

            Layout.fillWidth: true
            placeholderText: "Full name"
            focus: true

            Accessible.name: "Full name"

            onAccepted: registerPage.register()
            onTextEdited: messageLabel.text = ""
        }

        TextField {
            id: usernameField

            Layout.fillWidth: true
            placeholderText: "Username"

            Accessible.name: "Username"

            onAccepted: registerPage.register()
            onTextEdited: messageLabel.text = ""
        }

        PasswordField {
            id: passwordField

            Layout.fillWidth: true
            placeholderText: "Password (min 8 chars)"

            Accessible.name: "Password"

            onAccepted: registerPage.register()
            onTextEdited: messageLabel.text = ""
        }

        PasswordField {
            id: confirmField

            Layout.fillWidth: true
            placeholderText: "Confirm password"

            Accessible.name: "Confirm password"

            onAccepted: registerPage.register()
            onTextEdited: messageLabel.text = ""
        }

        StatusLabel {
            id: messageLabel

            Layout.fillWidth: true
            color: Theme.error
            wrapMode: Text.WordWrap
        }

        RowLayout {
            Layout.fillWidth: true

            ActionButton {
                text: "Back"

                onClicked: registerPage.stackView.pop()
            }

            Item {
                Layout.fillWidth: true
            }

            ActionButton {
                text: "Register"

                onClicked: registerPage.register()
            }
        }
    }
}
