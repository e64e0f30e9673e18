import QtQuick
import QtQuick.Controls
import QtTest
import "qrc:/src/ui"

Item {
    id: root
    width: 400
    height: 200

    // A settings-like property the fields are bound to both ways.
    QtObject {
        id: model
        property int steps: 17
    }

    Component {
        id: fieldComponent
        VeltTextField {
            width: 120
        }
    }

    VeltTextField {
        id: boundField
        y: 40
        width: 120
        validator: IntValidator { bottom: 1; top: 100 }
        Binding on target { value: model.steps }
        onTargetChanged: model.steps = target
    }

    // Something else to give the focus to.
    Button {
        id: elsewhere
        y: 120
        text: "elsewhere"
        focusPolicy: Qt.StrongFocus
    }

    Window {
        id: otherWindow
        width: 100
        height: 100
    }

    IntValidator {
        id: percentValidator
        bottom: 1
        top: 100
    }

    DoubleValidator {
        id: nitsValidator
        bottom: 1.0
        top: 10000
        notation: DoubleValidator.StandardNotation
    }

    TestCase {
        name: "VeltTextField"
        when: windowShown

        function init() {
            model.steps = 17
        }

        function test_commitRules_data() {
            // validated, empty allowed, typed text, how it ends, target and text afterwards
            const rows = [
                ["validator, out of range, leave: back to target", true, true, "1000", "leave", "50", "50"],
                ["validator, out of range, Enter: nothing committed", true, true, "1000", "enter", "50", "1000"],
                ["validator, acceptable, Enter", true, true, "75", "enter", "75", "75"],
                ["validator, acceptable, leave", true, true, "76", "leave", "76", "76"],
                ["validator, empty, leave: back to target", true, true, "", "leave", "50", "50"],
                ["no validator, any text, leave", false, true, "1000", "leave", "1000", "1000"],
                ["no validator, empty, Enter: nothing committed", false, true, "", "enter", "50", ""],
                ["no validator, empty, leave, empty allowed", false, true, "", "leave", "", ""],
                ["no validator, empty, leave, empty not allowed", false, false, "", "leave", "50", "50"],
                // Typed key by key: a character the validator refuses refuses the whole entry.
                ["validator, sign typed, leave: refused whole", true, true, "-5", "type", "50", "50"],
                ["real validator, exponent typed, leave: refused whole", "nits", true, "1e12", "type", "50", "50"],
            ]
            return rows.map(r => ({ tag: r[0], validated: r[1], emptyAllowed: r[2], typed: r[3], how: r[4],
                                    target: r[5], text: r[6] }))
        }

        function test_commitRules(data) {
            const field = createTemporaryObject(fieldComponent, root, {
                target: "50", emptyAllowed: data.emptyAllowed,
                validator: data.validated === "nits" ? nitsValidator : data.validated ? percentValidator : null })
            verify(field)
            compare(field.text, "50")
            field.forceActiveFocus()
            verify(field.activeFocus)
            if (data.how === "type") {
                field.selectAll()
                for (const key of data.typed)
                    keyClick(key)
            } else {
                field.text = data.typed
            }
            if (data.how === "enter")
                keyClick(Qt.Key_Return)
            else
                elsewhere.forceActiveFocus()
            compare(String(field.target), data.target)
            compare(field.text, data.text)
        }

        function test_losingWindowFocusCommits() {
            const field = createTemporaryObject(fieldComponent, root, { target: "a" })
            field.forceActiveFocus()
            field.text = "b"
            // Another window becoming active takes the active focus from the field.
            otherWindow.show()
            otherWindow.requestActivate()
            tryCompare(field, "activeFocus", false)
            compare(field.target, "b")
            otherWindow.close()
            root.Window.window.requestActivate()
            tryCompare(root.Window, "active", true)
        }

        function test_followsPropertyAfterCommit() {
            compare(boundField.text, "17")
            boundField.forceActiveFocus()
            boundField.selectAll()
            keyClick(Qt.Key_2)
            keyClick(Qt.Key_0)
            keyClick(Qt.Key_Enter)
            compare(model.steps, 20)
            // A later change elsewhere still reaches the field.
            model.steps = 33
            compare(boundField.text, "33")
            // Also while it holds uncommitted text.
            boundField.forceActiveFocus()
            boundField.text = "4"
            model.steps = 44
            compare(boundField.text, "44")
            elsewhere.forceActiveFocus()
            compare(model.steps, 44)
        }

        function findMenuItem(menu, label) {
            for (let i = 0; i < menu.count; ++i) {
                const item = menu.itemAt(i)
                if (item && item.text === label)
                    return item
            }
            return null
        }

        function test_contextMenu() {
            const field = createTemporaryObject(fieldComponent, root, { target: "hello", x: 200 })
            mousePress(field, 10, 5, Qt.RightButton)
            mouseRelease(field, 10, 5, Qt.RightButton)
            let menu = null
            for (let i = 0; i < field.data.length; ++i) {
                if (field.data[i] instanceof Menu)
                    menu = field.data[i]
            }
            verify(menu)
            tryCompare(menu, "opened", true)

            const selectAll = findMenuItem(menu, "Select &All")
            const cut = findMenuItem(menu, "Cu&t")
            const copy = findMenuItem(menu, "&Copy")
            verify(selectAll && cut && copy && findMenuItem(menu, "&Paste"))
            compare(selectAll.shortcutText, Qt.platform.os === "osx" ? "⌘A" : "Ctrl+A")
            verify(selectAll.enabled)
            verify(!copy.enabled, "nothing selected")
            verify(!cut.enabled, "nothing selected")

            mouseClick(selectAll)
            tryCompare(menu, "visible", false)
            compare(field.selectedText, "hello")

            mousePress(field, 10, 5, Qt.RightButton)
            mouseRelease(field, 10, 5, Qt.RightButton)
            tryCompare(menu, "opened", true)
            verify(copy.enabled)
            verify(cut.enabled)
            field.readOnly = true
            field.selectAll()
            verify(!cut.enabled, "read-only text cannot be cut")
            verify(copy.enabled)
            menu.close()
        }
    }
}
