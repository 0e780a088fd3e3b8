import QtQuick
import QtTest
import TarvikQml

TestCase {
    id: testCase

    name: "ModuleImport"
    when: windowShown

    function test_contextProperties() {
        verify(auth !== undefined)
        compare(auth.loggedIn, false)
        verify(dbPath.endsWith("/taskmanager.db"))
    }
}
