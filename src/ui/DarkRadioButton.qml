import QtQuick
import QtQuick.Controls
import "Mnemonic.js" as Mnemonic

// A radio button for dark panels: white text, light grey ring and dot.
RadioButton {
    id: control

    property bool isMac: Qt.platform.os !== "windows"
    property bool isWindows: Qt.platform.os === "windows"

    spacing: 4

    indicator: Rectangle {
        implicitWidth: 14
        implicitHeight: 14
        x: control.mirrored ? control.width - width - control.rightPadding : control.leftPadding
        y: control.topPadding + (control.availableHeight - height) / 2
        radius: 7
        color: "transparent"
        border.color: "#cccccc"
        border.width: 0.5
        opacity: control.enabled ? 1.0 : 0.3

        Rectangle {
            objectName: "radioDot"
            x: 4
            y: 4
            width: 6
            height: 6
            radius: 3
            color: "#cccccc"
            visible: control.checked
        }
    }

    contentItem: Text {
        leftPadding: control.indicator && !control.mirrored ? control.indicator.width + control.spacing : 0
        rightPadding: control.indicator && control.mirrored ? control.indicator.width + control.spacing : 0
        text: Mnemonic.plainText(control.text)
        font: control.font
        color: "white"
        opacity: control.enabled ? 1.0 : 0.3
        verticalAlignment: Text.AlignVCenter
    }

    FocusRect {
        focused: control.activeFocus
        isDark: true
        isWindows: control.isWindows
        anchors.centerIn: undefined
        x: (control.contentItem ? control.contentItem.x : 0) - 8 + 1
        y: (control.contentItem ? control.contentItem.y : 0) - 4 + 1
        width: (control.contentItem ? control.contentItem.width : 0) + 16
        height: (control.contentItem ? control.contentItem.height : 0) + 8
    }
}
