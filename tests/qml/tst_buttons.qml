import QtQuick
import QtQuick.Controls
import QtTest
import "qrc:/src/ui"

Item {
    id: root
    width: 500
    height: 300

    Action {
        id: runAction
        text: "&Run"
        shortcut: "Ctrl+R"
    }

    Component {
        id: buttonComponent
        VeltButton {}
    }
    Component {
        id: toolButtonComponent
        VeltToolButton {}
    }
    Component {
        id: darkRadioComponent
        DarkRadioButton {}
    }

    VeltLED {
        id: led
        x: 400
        y: 250
        device: "Output"
    }

    Row {
        id: radioRow
        y: 200
        property var checkedTexts: []
        function onRadioButtonChecked(text) {
            checkedTexts.push(text)
        }
        VeltRadioButton { id: radioA; text: "sRGB (sdrPreserve)" }
        VeltRadioButton { id: radioB; text: "“Straight” gamma (sdrPower)" }
    }

    Menu {
        id: menu
        VeltMenuItem { id: itemWithShortcut; action: runAction }
        VeltMenuItem { id: itemWithoutShortcut; text: "Plain" }
    }

    function textOf(control) {
        for (let i = 0; i < control.contentItem.children.length; ++i) {
            const child = control.contentItem.children[i]
            if (child.objectName === "buttonText")
                return child
        }
        return null
    }

    TestCase {
        name: "Controls"
        when: windowShown

        function test_mnemonicsInDrawnText_data() {
            return [
                { tag: "button", component: buttonComponent, text: "&Run", shown: "Run" },
                { tag: "button, literal ampersand", component: buttonComponent, text: "Save && Quit", shown: "Save & Quit" },
                { tag: "tool button", component: toolButtonComponent, text: "Cu&t", shown: "Cut" },
                { tag: "dark radio", component: darkRadioComponent, text: "&Gains", shown: "Gains" },
            ]
        }

        function test_mnemonicsInDrawnText(data) {
            const control = createTemporaryObject(data.component, root, { text: data.text })
            verify(control)
            const label = data.component === darkRadioComponent ? control.contentItem : textOf(control)
            verify(label)
            compare(label.text, data.shown)
        }

        function test_mnemonicClicksButton() {
            const button = createTemporaryObject(buttonComponent, root, { text: "&Go" })
            const clicked = createTemporaryObject(signalSpyComponent, root, { target: button, signalName: "clicked" })
            keyClick(Qt.Key_G, Qt.AltModifier)
            compare(clicked.count, Qt.platform.os === "osx" ? 0 : 1)
        }

        function test_led() {
            messageLog.clear()
            tryCompare(led.contentItem, "status", Image.Ready)
            verify(led.contentItem.source.toString().endsWith("IconGreenLED.png"))
            let centre = grabImage(led).pixel(8, 8)
            verify(centre.g > 0.5 && centre.r < 0.3, "green light: " + centre)
            mouseMove(led, 8, 8)
            let tip = null
            for (let i = 0; i < led.data.length; ++i) {
                if (led.data[i] instanceof ToolTip)
                    tip = led.data[i]
            }
            verify(tip)
            tryCompare(tip, "visible", true)
            compare(tip.text, "Output OK")
            mouseClick(led)
            verify(!messageLog.all().some(m => m.indexOf("error:") >= 0), "no status, nothing logged")

            led.status = "HTTP error 401: Unauthorized"
            tryCompare(led.contentItem, "status", Image.Ready)
            verify(led.contentItem.source.toString().endsWith("IconRedLED.png"))
            centre = grabImage(led).pixel(8, 8)
            verify(centre.r > 0.5 && centre.g < 0.3, "red light: " + centre)
            compare(tip.text, "HTTP error 401: Unauthorized")
            mouseClick(led)
            verify(messageLog.all().indexOf("Output error: HTTP error 401: Unauthorized") >= 0)
            led.status = ""
            mouseMove(root, 0, 0)
        }

        function test_radioTellsItsParent() {
            radioRow.checkedTexts = []
            mouseClick(radioB)
            mouseClick(radioA)
            mouseClick(radioA)   // stays checked: told again
            compare(radioRow.checkedTexts, ["“Straight” gamma (sdrPower)", "sRGB (sdrPreserve)",
                                            "sRGB (sdrPreserve)"])
        }

        function test_menuItemShowsShortcut() {
            menu.open()
            tryCompare(menu, "opened", true)
            compare(itemWithShortcut.shortcutText, Qt.platform.os === "osx" ? "⌘R" : "Ctrl+R")
            compare(itemWithoutShortcut.shortcutText, "")
            let label = null
            for (let i = 0; i < itemWithShortcut.children.length; ++i) {
                if (itemWithShortcut.children[i].objectName === "shortcutText")
                    label = itemWithShortcut.children[i]
            }
            verify(label && label.visible)
            compare(label.x + label.width, itemWithShortcut.width - 8)
            menu.close()
        }
    }

    Component {
        id: signalSpyComponent
        SignalSpy {}
    }

    // A closed menu whose only entry shows an action with `key`.
    Component {
        id: keyMenuComponent
        Menu {
            id: keyMenu
            property var key
            property bool actionEnabled: true
            property int triggers: 0
            property alias entry: entry
            VeltMenuItem {
                id: entry
                action: Action {
                    text: "Entry"
                    shortcut: keyMenu.key
                    enabled: keyMenu.actionEnabled
                    onTriggered: keyMenu.triggers += 1
                }
            }
        }
    }

    TestCase {
        name: "MenuShortcuts"
        when: windowShown

        // Every sequence of a standard key triggers the entry's action once,
        // the entry shows the preferred one, and nothing warns about keys
        // left unbound.
        function test_everySequenceTriggers_data() {
            return [
                { tag: "Copy", key: StandardKey.Copy, several: true, enabled: true },
                { tag: "Cut", key: StandardKey.Cut, several: true, enabled: true },
                { tag: "Paste", key: StandardKey.Paste, several: true, enabled: true },
                { tag: "Open", key: StandardKey.Open, several: false, enabled: true },
                { tag: "a plain sequence", key: "Ctrl+K", several: false, enabled: true },
                { tag: "Copy, disabled action", key: StandardKey.Copy, several: true, enabled: false },
            ]
        }

        function test_everySequenceTriggers(data) {
            messageLog.clear()
            const menu = createTemporaryObject(keyMenuComponent, root, { key: data.key, actionEnabled: data.enabled })
            verify(menu)
            const sequences = menu.entry.keySequences
            verify(data.several ? sequences.length > 1 : sequences.length === 1, JSON.stringify(sequences))
            const shown = sequences[0].replace(/Ctrl\+/g, Qt.platform.os === "osx" ? "⌘" : "Ctrl+")
            compare(menu.entry.shortcutText, shown)
            verify(!messageLog.all().some(m => m.indexOf("Only binding to one of multiple key bindings") >= 0),
                   messageLog.all().join("\n"))
            for (let i = 0; i < sequences.length; ++i) {
                keySequence(sequences[i])
                compare(menu.triggers, data.enabled ? i + 1 : 0, sequences[i])
            }
        }
    }
}
