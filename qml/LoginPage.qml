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
            if (keepBox.checked)
                keptSignIn.keep()
            else
                keptSignIn.forget()
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

    // The kept sign-in of an earlier run no longer signs anyone in: the password is needed.
    Connections {
        target: keptSignIn

        function onResumeRefused() {
            errorLabel.color = Theme.error
            errorLabel.text = "You were signed out. Sign in again."
        }
    }

    ColumnLayout {
        id: form

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

        // Opens and closes what a person who forgot the password can do, as the link below
        // does: by the mouse, the keyboard or a screen reader.
        MouseArea {
            id: forgotLink

            function toggle() {
                forgotText.visible = !forgotText.visible
            }

            objectName: "forgotPassword"
            implicitWidth: forgotLabel.implicitWidth
            implicitHeight: forgotLabel.implicitHeight
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            activeFocusOnTab: true

            Accessible.role: Accessible.Link
            Accessible.name: forgotLabel.text
            Accessible.focusable: true
            Accessible.onPressAction: forgotLink.toggle()
            Keys.onReturnPressed: forgotLink.toggle()
            Keys.onEnterPressed: forgotLink.toggle()
            Keys.onSpacePressed: forgotLink.toggle()
            onClicked: forgotLink.toggle()

            Label {
                id: forgotLabel

                text: "Forgot password?"
                font.underline: forgotLink.activeFocus || forgotLink.containsMouse
                color: forgotLink.containsMouse ? "#c1c3d3" : "#7f89e0"

                Accessible.ignored: true
            }
        }

        Label {
            id: forgotText

            objectName: "forgotText"
            Layout.fillWidth: true
            visible: false
            wrapMode: Text.WordWrap
            color: Theme.text
            text: "An account's tasks are protected by its password: nobody can open them "
                  + "without it, and another account on this desktop cannot read them. No "
                  + "password can be reset or recovered. The only way back to the tasks is a "
                  + "copy made with \"Export tasks\" (Settings, \"Tasks in and out\") or the "
                  + "tasks on a sync server: create a new account and import the file, or set "
                  + "up the sync again."
        }
    }

    // Off unless ticked at each sign-in: the next start, also at login in the background,
    // signs this account in without the password until it signs out. Below the form, which
    // stays where it was; in the Tab order after the buttons.
    CheckBox {
        id: keepBox

        anchors.top: form.bottom
        anchors.topMargin: 6
        anchors.left: form.left
        width: form.width
        text: "Keep me signed in on this computer"
        checked: false

        Accessible.name: keepBox.text
        Accessible.onPressAction: keepBox.toggle()
        Accessible.onToggleAction: keepBox.toggle()
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
