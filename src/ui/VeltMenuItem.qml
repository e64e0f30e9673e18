import QtQuick
import QtQuick.Controls

// A menu item that shows its action's shortcut at its right edge.
MenuItem {
    id: item

    readonly property string shortcutText: shortcutSource.nativeText

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding
                            + (shortcutText !== "" ? shortcutLabel.implicitWidth + 24 : 0))

    // Never triggers: it only turns the action's shortcut into display text.
    Shortcut {
        id: shortcutSource
        enabled: false
        sequence: (item.action && item.action.shortcut !== undefined) ? item.action.shortcut : ""
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
