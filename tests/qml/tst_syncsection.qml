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
}
