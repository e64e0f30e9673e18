import QtQuick
import QtQuick.Controls

// A radio button that tells its parent when a click leaves it checked: the
// parent must provide onRadioButtonChecked(text).
RadioButton {
    id: control

    property bool isDark: palette.window.hsvValue < 0.5
    property bool isMac: Qt.platform.os === "osx" || Qt.platform.os === "macos"
    property bool isWindows: Qt.platform.os === "windows"

    indicator: Rectangle {
        implicitWidth: 14
        implicitHeight: 14
        x: control.text ? (control.mirrored ? control.width - width - control.rightPadding
                                            : control.leftPadding)
                        : control.leftPadding + (control.availableWidth - width) / 2
        y: control.topPadding + (control.availableHeight - height) / 2
        radius: 7
        color: control.palette.base
        border.color: "#7f7f7f"
        border.width: 0.5

        Rectangle {
            objectName: "radioDot"
            x: 4
            y: 4
            width: 6
            height: 6
            radius: 3
            color: control.palette.windowText
            visible: control.checked
        }
    }

    FocusRect {
        focused: control.activeFocus
        isDark: control.isDark
        isWindows: control.isWindows
        anchors.centerIn: undefined
        x: (control.contentItem ? control.contentItem.x : 0) - 8 + 1
        y: (control.contentItem ? control.contentItem.y : 0) - 4 + 1
        width: (control.contentItem ? control.contentItem.width : 0) + 16
        height: (control.contentItem ? control.contentItem.height : 0) + 8
    }

    onClicked: {
        if (checked && parent && typeof parent.onRadioButtonChecked === "function")
            parent.onRadioButtonChecked(text)
    }
}
