import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Page {
    id: loginPage

    required property StackView stackView

    function doLogin() {
        errorLabel.text = ""
        if (auth.login(usernameField.text, passwordField.text)) {
            loginPage.stackView.replace(Qt.resolvedUrl("TasksPage.qml"), {
                                            "stackView": loginPage.stackView
                                        })
        } else {
            errorLabel.text = "Invalid credentials (or user inactive)."
        }
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
        }

        TextField {
            id: usernameField

            Layout.fillWidth: true
            placeholderText: "Username"
            focus: true
        }

        TextField {
            id: passwordField

            Layout.fillWidth: true
            placeholderText: "Password"
            echoMode: TextInput.Password

            onAccepted: loginPage.doLogin()
        }

        Label {
            id: errorLabel

            color: "tomato"
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            Button {
                text: "Sign in"

                onClicked: loginPage.doLogin()
            }

            Button {
                text: "Create account"

                onClicked: loginPage.stackView.push(Qt.resolvedUrl("RegisterPage.qml"), {
                                                        "stackView": loginPage.stackView
                                                    })
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

        MouseArea {
            id: projectLink

            readonly property string href: "https://brellhaven.org/tarvik/"

            width: projectLinkLabel.implicitWidth
            height: projectLinkLabel.implicitHeight
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor

            onClicked: Qt.openUrlExternally(projectLink.href)

            Label {
                id: projectLinkLabel

                anchors.centerIn: parent
                text: "Project page"
                textFormat: Text.RichText
                font.pixelSize: 14
                color: projectLink.containsMouse ? "#c1c3d3" : "#3c49bd"

                onLinkActivated: function(link) {
                    Qt.openUrlExternally(link)
                }
            }
        }
    }
}
