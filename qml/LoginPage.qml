import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Page {
    id: loginPage

    required property StackView stackView

    title: "Login"

    function doLogin() {
        errorLabel.color = Theme.error
        errorLabel.text = ""
        if (auth.login(usernameField.text, passwordField.text)) {
            loginPage.stackView.replace(Qt.resolvedUrl("TasksPage.qml"), {
                                            "stackView": loginPage.stackView
                                        })
        } else {
            errorLabel.text = "Invalid credentials (or user inactive)."
        }
    }

    // Back from a new account: its user name filled in, the password to type next.
    function showRegistered(userName) {
        usernameField.text = userName
        passwordField.text = ""
        errorLabel.color = Theme.success
        errorLabel.text = "Account created, sign in"
        passwordField.forceActiveFocus()
    }

    function openRegistration() {
        const page = loginPage.stackView.push(Qt.resolvedUrl("RegisterPage.qml"), {
                                                  "stackView": loginPage.stackView
                                              })
        page.registered.connect(loginPage.showRegistered)
    }

    Component.onCompleted: usernameField.forceActiveFocus()

    ColumnLayout {
        anchors.centerIn: parent
        width: 360
        spacing: 12

        Label {
            text: "Login"
            color: "white"
            font.pixelSize: 22

            Accessible.role: Accessible.Heading
        }

        TextField {
            id: usernameField

            Layout.fillWidth: true
            placeholderText: "Username"
            focus: true

            Accessible.name: "Username"

            onTextEdited: errorLabel.text = ""
        }

        PasswordField {
            id: passwordField

            Layout.fillWidth: true
            placeholderText: "Password"

            Accessible.name: "Password"

            onAccepted: loginPage.doLogin()
            onTextEdited: errorLabel.text = ""
        }

        StatusLabel {
            id: errorLabel

            color: Theme.error
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            ActionButton {
                text: "Sign in"

                onClicked: loginPage.doLogin()
            }

            ActionButton {
                text: "Create account"

                onClicked: loginPage.openRegistration()
            }
        }
    }

    Row {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 13
        spacing: 6

        Label {
            text: "Tarvik Task Manager"
            color: "#aaaaaa"
            font.pixelSize: 14
        }

        // A link as the keyboard and a screen reader know one: in the Tab order after the
        // buttons, opened by Return, Enter or Space, underlined while it has the focus.
        MouseArea {
            id: projectLink

            readonly property string href: "https://brellhaven.org/tarvik/"

            width: projectLinkLabel.implicitWidth
            height: projectLinkLabel.implicitHeight
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            activeFocusOnTab: true

            Accessible.role: Accessible.Link
            Accessible.name: projectLinkLabel.text
            Accessible.description: projectLink.href
            Accessible.focusable: true
            Accessible.onPressAction: Qt.openUrlExternally(projectLink.href)
            Keys.onReturnPressed: Qt.openUrlExternally(projectLink.href)
            Keys.onEnterPressed: Qt.openUrlExternally(projectLink.href)
            Keys.onSpacePressed: Qt.openUrlExternally(projectLink.href)
            onClicked: Qt.openUrlExternally(projectLink.href)

            Label {
                id: projectLinkLabel

                anchors.centerIn: parent
                text: "Project page"
                textFormat: Text.RichText
                font.pixelSize: 14
                font.underline: projectLink.activeFocus
                color: projectLink.containsMouse ? "#c1c3d3" : "#3c49bd"

                Accessible.ignored: true

                onLinkActivated: function(link) {
                    Qt.openUrlExternally(link)
                }
            }
        }
    }
}
