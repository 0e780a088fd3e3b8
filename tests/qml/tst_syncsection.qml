import QtQuick
import QtQuick.Controls
import QtTest
import TarvikQml
import "items.js" as Items

TestCase {
    id: testCase

    name: "SyncSection"
    when: windowShown
    width: 800
    height: 600
    visible: true

    // Stands in for the sync service: the same properties, and the calls it was given.
    Component {
        id: syncComponent

        QtObject {
            property bool configured: false
            property string serverUrl: ""
            property string userName: ""
            property var taskLists: []
            property bool busy: false
            property string status: ""
            property bool needsPassword: false
            property bool needsInsecureConsent: false
            property string otherServer: ""
            property bool failed: false
            property var calls: []

            function testConnection(server, user, password, allowInsecure) {
                calls.push(["test", server, user, password, allowInsecure])
            }
            function useTaskList(url) {
                calls.push(["use", url])
                return true
            }
            function createTaskList(name) { calls.push(["create", name]) }
            function providePassword(password) { calls.push(["password", password]) }
            function syncNow() { calls.push(["sync"]) }
            function stopSyncing() { calls.push(["stop"]) }
        }
    }

    Component {
        id: sectionComponent

        SyncSection {
            width: 600
        }
    }

    Component {
        id: indicatorComponent

        SyncIndicator {}
    }

    Component {
        id: passwordComponent

        SyncPasswordDialog {}
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    function make(properties) {
        const sync = createTemporaryObject(syncComponent, testCase, properties)
        const section = createTemporaryObject(sectionComponent, testCase,
                                              { sync: sync, signedIn: true })
        return { sync: sync, section: section }
    }

    function named(section, name) {
        const found = Items.findItem(section, item => item.Accessible.name === name && item.visible)
        verify(found, "no visible control named " + name)
        return found
    }

    function test_testConnectionSendsWhatWasTyped() {
        const made = make({})
        named(made.section, "Server address").text = "dav.example.org"
        named(made.section, "User name").text = "ann"
        named(made.section, "Password").text = "secret"
        mouseClick(named(made.section, "Test connection"))
        compare(made.sync.calls, [["test", "dav.example.org", "ann", "secret", false]])
    }

    function test_plainHttpNeedsTheConsentBox() {
        const made = make({ needsInsecureConsent: true })
        named(made.section, "Server address").text = "http://dav.example.org"
        named(made.section, "User name").text = "ann"
        mouseClick(named(made.section, "Send the password over plain HTTP to this server"))
        mouseClick(named(made.section, "Test connection"))
        compare(made.sync.calls[0][4], true)
    }

    function test_chosenListIsUsed() {
        const made = make({ status: "Connected; choose the task list to sync with",
                            taskLists: [{ url: "https://a/1/", name: "Home" },
                                        { url: "https://a/2/", name: "Work" }] })
        named(made.section, "Task list").currentIndex = 1
        mouseClick(named(made.section, "Sync with this list"))
        compare(made.sync.calls, [["use", "https://a/2/"]])
    }

    function test_syncNowHandsOverAnAskedPassword_data() {
        return [
            { tag: "password asked", needsPassword: true, typed: "secret",
              expected: [["password", "secret"]] },
            { tag: "password known", needsPassword: false, typed: "", expected: [["sync"]] }
        ]
    }

    function test_syncNowHandsOverAnAskedPassword(data) {
        const made = make({ configured: true, needsPassword: data.needsPassword })
        named(made.section, "Password").text = data.typed
        mouseClick(named(made.section, "Sync now"))
        compare(made.sync.calls, data.expected)
    }

    // Another host gets the password only when the person says so, and is then the one typed.
    function test_anotherHostIsUsedWhenConfirmed() {
        const made = make({ otherServer: "https://b.example/dav/" })
        named(made.section, "Server address").text = "a.example"
        named(made.section, "User name").text = "ann"
        mouseClick(named(made.section, "Sign in at the other host"))
        compare(made.sync.calls, [["test", "https://b.example/dav/", "ann", "", false]])
        compare(named(made.section, "Server address").text, "https://b.example/dav/")
    }

    function test_signOutForgetsWhatWasTyped() {
        const made = make({ needsInsecureConsent: true })
        for (const name of ["Server address", "User name", "Password", "New task list"])
            Items.findItem(made.section, item => item.Accessible.name === name).text = "typed"
        named(made.section, "Send the password over plain HTTP to this server").checked = true
        made.section.signedIn = false
        made.section.signedIn = true
        for (const name of ["Server address", "User name", "Password", "New task list"])
            compare(Items.findItem(made.section, item => item.Accessible.name === name).text, "",
                    name)
        made.sync.needsInsecureConsent = false
        verify(!Items.findItem(made.section, item => item.text
                               === "Send the password over plain HTTP to this server").visible)
    }

    function test_indicatorSendsThePersonWhereTheSyncNeedsThem_data() {
        return [
            { tag: "password wanted", state: { needsPassword: true }, signal: "passwordRequested",
              calls: [] },
            { tag: "failed", state: { failed: true }, signal: "settingsRequested", calls: [] },
            { tag: "all well", state: {}, signal: "", calls: [["sync"]] }
        ]
    }

    function test_indicatorSendsThePersonWhereTheSyncNeedsThem(data) {
        const sync = createTemporaryObject(syncComponent, testCase,
                                           Object.assign({ configured: true, status: "Synced" },
                                                         data.state))
        const indicator = createTemporaryObject(indicatorComponent, testCase, { sync: sync })
        compare(indicator.Accessible.description, "Synced")
        compare(indicator.ToolTip.text, "Synced")
        const password = createTemporaryObject(spyComponent, testCase,
                                               { target: indicator, signalName: "passwordRequested" })
        const settings = createTemporaryObject(spyComponent, testCase,
                                               { target: indicator, signalName: "settingsRequested" })
        mouseClick(indicator)
        compare(password.count, data.signal === "passwordRequested" ? 1 : 0)
        compare(settings.count, data.signal === "settingsRequested" ? 1 : 0)
        compare(sync.calls, data.calls)
    }

    function test_passwordDialogHandsOverWhatWasTyped_data() {
        return [
            { tag: "sync", key: Qt.Key_Return, expected: [["password", "secret"]] },
            { tag: "not now", key: Qt.Key_Escape, expected: [] }
        ]
    }

    function test_passwordDialogHandsOverWhatWasTyped(data) {
        const sync = createTemporaryObject(syncComponent, testCase,
                                           { configured: true, needsPassword: true })
        const dialog = createTemporaryObject(passwordComponent, testCase, { sync: sync })
        dialog.open()
        tryCompare(dialog, "opened", true)
        for (const key of "secret")
            keyClick(key)
        keyClick(data.key)
        tryCompare(dialog, "visible", false)
        compare(sync.calls, data.expected)
        dialog.open()
        tryCompare(dialog, "opened", true)
        compare(Items.findItem(dialog.contentItem, item => item.Accessible.name === "Password").text,
                "")
    }
}
