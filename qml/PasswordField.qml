import QtQuick
import QtQuick.Controls

// A text field for a password, named for a screen reader like every other field. Qt 6.4 drops
// the accessible name of a field it marks as a password edit, so a reader said only "password
// text"; the field takes the mark back while it hides the name. The field still reads as a
// password text: that role follows the echo mode.
TextField {
    id: field

    echoMode: TextInput.Password

    Accessible.onPasswordEditChanged: {
        if (field.Accessible.passwordEdit && field.Accessible.name === "")
            field.Accessible.passwordEdit = false
    }
}
