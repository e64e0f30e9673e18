import QtQuick
import QtQuick.Controls
import "Mnemonic.js" as Mnemonic

// A flat tool button: white bold text and icon on a dark plate that lightens
// while hovered and pressed.
ToolButton {
    id: control

    readonly property bool isMac: Qt.platform.os === "osx" || Qt.platform.os === "macos"
    property real radius: isMac ? 4 : 0

    hoverEnabled: true
    height: 32
    implicitHeight: 32
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    topInset: isMac ? 4 : 0
    bottomInset: isMac ? 4 : 0
    leftInset: isMac ? 4 : 0
    rightInset: isMac ? 4 : 0

    contentItem: Row {
        spacing: 4

        Image {
            anchors.verticalCenter: parent.verticalCenter
            visible: control.icon.source.toString() !== ""
            source: control.icon.source
            height: 16
            width: implicitHeight > 0 ? Math.round(16 * implicitWidth / implicitHeight) : 0
            fillMode: Image.PreserveAspectFit
            mipmap: true
            opacity: control.enabled ? 1.0 : 0.5
        }

        Text {
            objectName: "buttonText"
            anchors.verticalCenter: parent.verticalCenter
            text: Mnemonic.plainText(control.text)
            font.bold: true
            color: "white"
            opacity: control.enabled ? 1.0 : 0.5
        }
    }

    background: Rectangle {
        visible: control.enabled
        radius: control.radius
        color: control.down ? "#888888" : control.hovered ? "#666666" : "#444444"

        FocusRect {
            focused: control.activeFocus
            isDark: true
            color: "white"
            width: control.width - 4
            height: control.height - 8
            radius: 4
        }
    }
}
