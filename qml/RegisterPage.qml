import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Page {
    id: registerPage

    required property StackView stackView

    title: "Create account"

    // The first check that fails names the problem; the service is asked only when all pass.
    function register() {
        messageLabel.color = "tomato"
        messageLabel.text = ""
        if (fullNameField.text.trim().length === 0) {
            messageLabel.text = "Insert full name."
            return
        }
        if (usernameField.text.trim().length < 3) {
            messageLabel.text = "Username too short."
            return
        }
        if (passwordField.text.length < 8) {
            messageLabel.text = "Password must be at least 8 characters."
            return
        }
        if (passwordField.text !== confirmField.text) {
            messageLabel.text = "Passwords do not match."
            return
        }
        if (auth.registerUser(usernameField.text, passwordField.text, fullNameField.text)) {
            messageLabel.color = "lightgreen"
            messageLabel.text = "Account created. You can login now."
            registerPage.stackView.pop()
        } else {
            messageLabel.text = "Registration failed (username already exists or DB error)."
        }
    }

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

            Accessible.name: "Full name"
        }

        TextField {
            id: usernameField

            Layout.fillWidth: true
            placeholderText: "Username"

            Accessible.name: "Username"
        }

        TextField {
            id: passwordField

            Layout.fillWidth: true
            placeholderText: "Password (min 8 chars)"
            echoMode: TextInput.Password

            Accessible.name: "Password"
        }

        TextField {
            id: confirmField

            Layout.fillWidth: true
            placeholderText: "Confirm password"
            echoMode: TextInput.Password

            Accessible.name: "Confirm password"
        }

        StatusLabel {
            id: messageLabel

            Layout.fillWidth: true
            color: "tomato"
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
