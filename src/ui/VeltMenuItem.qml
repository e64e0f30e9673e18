import QtQuick
import QtQuick.Controls
import PlatformHelper 1.0

// A menu item that shows its action's shortcut at its right edge. A standard
// key stands for several sequences on some platforms: the action binds the
// preferred one and the item binds the others, so that every one works.
MenuItem {
    id: item

    readonly property var shortcutKey: (action && action.shortcut !== undefined) ? action.shortcut : ""
    // Portable texts, the preferred sequence first.
    readonly property var keySequences: PlatformHelper.keySequences(shortcutKey)
    readonly property string shortcutText: shortcutSource.nativeText

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding
                            + (shortcutText !== "" ? shortcutLabel.implicitWidth + 24 : 0))

    // Disabled entries read dimmed, like their shortcut.
    Binding {
        target: item.contentItem
        property: "opacity"
        value: item.enabled ? 1.0 : 0.5
        when: item.contentItem !== null
    }

    // Never triggers: it only turns the preferred sequence into display text.
    Shortcut {
        id: shortcutSource
        enabled: false
        sequence: item.keySequences.length > 0 ? item.keySequences[0] : ""
    }

    // The other sequences of a standard key, which the action does not bind.
    Shortcut {
        objectName: "otherSequences"
        sequences: item.keySequences.slice(1)
        enabled: item.keySequences.length > 1 && !!item.action && item.action.enabled
        onActivated: item.action.trigger()
    }

    Text {
        id: shortcutLabel
        objectName: "shortcutText"
        anchors.right: parent.right
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        visible: text !== ""
        text: item.shortcutText
        font: item.font
        color: item.highlighted ? item.palette.highlightedText : item.palette.text
        opacity: item.enabled ? 1.0 : 0.5
    }
}
