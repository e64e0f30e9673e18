import QtQuick
import QtQuick.Controls

// A text field that shows `target` and commits its text to `target` on Enter
// and when it loses the focus. A field with a validator commits only
// acceptable text; one without commits any non-empty text, and the empty text
// too on leaving the field when `emptyAllowed`. Text that is not committed on
// leaving the field returns to `target`.
//
// Users keep `target` and their property in step both ways, for example:
//     Binding on target { value: veltranor.steps }
//     onTargetChanged: veltranor.steps = target
TextField {
    id: field

    property var target
    property bool emptyAllowed: true

    // The item the context menu acts on: the window's edit item, else this.
    readonly property Item editItem: {
        const w = ApplicationWindow.window
        return (w && w.editItem) ? w.editItem : field
    }

    function targetText() {
        return (target === undefined || target === null) ? "" : String(target)
    }

    function finishEditing() {
        if (validator) {
            if (acceptableInput)
                target = text
            else
                text = targetText()
        } else if (text !== "" || emptyAllowed) {
            target = text
        } else {
            text = targetText()
        }
    }

    selectByMouse: true
    persistentSelection: true
    activeFocusOnTab: true
    background.visible: enabled

    onTargetChanged: text = targetText()
    Component.onCompleted: text = targetText()

    onAccepted: {
        if (validator) {
            if (acceptableInput)
                target = text
        } else if (text !== "") {
            target = text
        }
    }
    // A validator makes the text input drop each typed character that it
    // refuses and keep the rest, so "-5" would become 5 and "1e12" 112. Typed
    // characters therefore go into the text as they are, and an entry the
    // validator does not accept is refused whole when it is committed.
    Keys.onPressed: function(event) {
        if (!validator || readOnly || event.text.length === 0
                || (event.modifiers & (Qt.ControlModifier | Qt.AltModifier | Qt.MetaModifier)))
            return
        const code = event.text.charCodeAt(0)
        if (code < 32 || code === 127)
            return
        const start = selectedText.length > 0 ? selectionStart : cursorPosition
        const end = selectedText.length > 0 ? selectionEnd : cursorPosition
        text = text.slice(0, start) + event.text + text.slice(end)
        cursorPosition = start + event.text.length
        event.accepted = true
    }
    onFocusChanged: if (!focus) finishEditing()
    onActiveFocusChanged: if (!activeFocus) finishEditing()

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.RightButton
        cursorShape: Qt.IBeamCursor
        onPressed: {
            field.forceActiveFocus()
            contextMenu.popup()
        }
    }

    Menu {
        id: contextMenu

        VeltMenuItem {
            action: Action {
                text: qsTr("Select &All")
                shortcut: StandardKey.SelectAll
                enabled: contextMenu.visible && field.editItem && field.editItem.selectByMouse === true
                onTriggered: field.editItem.selectAll()
            }
        }
        VeltMenuItem {
            action: Action {
                text: qsTr("Cu&t")
                shortcut: StandardKey.Cut
                enabled: contextMenu.visible && field.editItem && field.editItem.selectedText !== ""
                         && field.editItem.readOnly !== true
                onTriggered: field.editItem.cut()
            }
        }
        VeltMenuItem {
            action: Action {
                text: qsTr("&Copy")
                shortcut: StandardKey.Copy
                enabled: contextMenu.visible && field.editItem && field.editItem.selectedText !== ""
                onTriggered: field.editItem.copy()
            }
        }
        VeltMenuItem {
            action: Action {
                text: qsTr("&Paste")
                shortcut: StandardKey.Paste
                enabled: contextMenu.visible && field.editItem && field.editItem.canPaste === true
                onTriggered: field.editItem.paste()
            }
        }
    }
}
