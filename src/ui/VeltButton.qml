import QtQuick
import QtQuick.Controls
import "Mnemonic.js" as Mnemonic

// A push button drawn like the native buttons of macOS (every platform but
// Windows) and of Windows 11.
Button {
    id: control

    property bool isDark: palette.window.hsvValue < 0.5
    property bool isMac: Qt.platform.os !== "windows"
    property bool isWindows: Qt.platform.os === "windows"
    property int extraWidth: 12

    readonly property bool active: Window.active
    readonly property bool accent: highlighted && active

    // Fill gradient (top, bottom) and border of the current state.
    property color topColor: {
        if (isWindows) {
            if (isDark)
                return down ? "#6d6d6d" : hovered ? "#4c4c4c" : "#393939"
            return down ? "#d1e6f8" : hovered ? "#e3effa" : "#fdfdfd"
        }
        if (accent)
            return isDark ? "#3088bb" : "#3696ff"
        if (isDark)
            return down ? "#727272" : "#595959"
        return down ? "#f1f1f1" : "white"
    }
    property color bottomColor: (!isWindows && accent) ? (isDark ? "#1f74d3" : "#0880ff") : topColor
    property color borderColor: {
        if (isWindows) {
            if (isDark)
                return accent ? "#ffffff" : "#989898"
            return (accent || hovered) ? "#0e7eda" : "#d7d7d7"
        }
        return "#dddddd"
    }
    property int borderWidth: isWindows ? 1 : ((accent || isDark) ? 0 : 1)
    property color textColor: (isMac && accent) ? (down ? "#bbbbbb" : "white")
                                                : (isDark ? "white" : "black")
    property color shadowColor: highlighted ? "#80a0ff" : Qt.darker("#c1c1c1", 2.0)

    leftPadding: 0
    rightPadding: 0
    topPadding: 4
    bottomPadding: 4
    implicitWidth: implicitContentWidth + extraWidth
    implicitHeight: Math.max(22, implicitContentHeight + topPadding + bottomPadding)

    contentItem: Row {
        leftPadding: control.extraWidth - 8
        spacing: 4

        Image {
            id: iconImage
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
            id: label
            objectName: "buttonText"
            anchors.verticalCenter: parent.verticalCenter
            text: Mnemonic.plainText(control.text)
            font: control.font
            color: control.textColor
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
            opacity: control.enabled ? 1.0 : 0.7
        }
    }

    background: Item {
        implicitWidth: 22
        implicitHeight: 22

        // On macOS in light mode an outline behind the button acts as its shadow.
        Rectangle {
            visible: control.isMac && !control.isDark
            x: 1
            y: 1
            width: parent.width - 2
            height: parent.height
            radius: 5
            color: control.shadowColor
            opacity: control.enabled ? 1.0 : 0.3
        }

        Rectangle {
            objectName: "buttonFill"
            anchors.fill: parent
            radius: control.isWindows ? 3 : 5
            border.width: control.borderWidth
            border.color: control.borderColor
            opacity: control.enabled ? 1.0 : 0.3
            gradient: Gradient {
                GradientStop { position: 0.0; color: control.topColor }
                GradientStop { position: 1.0; color: control.bottomColor }
            }
        }

        FocusRect {
            focused: control.activeFocus
            isDark: control.isDark
            isWindows: control.isWindows
            width: control.width - 4
            height: control.height - 4
            radius: 2
        }
    }
}
