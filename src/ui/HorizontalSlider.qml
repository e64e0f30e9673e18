import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A slider between two end texts. It snaps to its steps and is usable only
// while no run is active and its window is active.
RowLayout {
    id: root

    property alias leftText: leftLabel.text
    property alias rightText: rightLabel.text
    property alias slider: slider
    property alias value: slider.value

    // Users on a dark background whose palette reads light set it.
    property bool isDark: slider.palette.window.hsvValue < 0.5
    property color color: isDark ? "white" : "black"
    property color disabled: isDark ? "#888888" : "#cccccc"
    property color rightColor: isDark ? "#999999" : "#dddddd"
    property color leftColor: isDark ? "#777777" : "#bbbbbb"

    Text {
        id: leftLabel
        color: root.color
        visible: text !== ""
    }

    Slider {
        id: slider
        Layout.fillWidth: true
        Layout.minimumWidth: 40
        stepSize: 0.1
        snapMode: Slider.SnapAlways
        enabled: !veltranor.running && Window.active

        background: Item {
            x: slider.leftPadding
            y: slider.topPadding + slider.availableHeight / 2 - height / 2
            implicitWidth: 200
            implicitHeight: 4
            width: slider.availableWidth
            height: 4

            Rectangle {
                objectName: "trackLeft"
                width: slider.visualPosition * parent.width
                height: parent.height
                radius: 2
                color: slider.enabled ? root.leftColor : root.disabled
            }
            Rectangle {
                objectName: "trackRight"
                x: slider.visualPosition * parent.width
                width: parent.width - x
                height: parent.height
                radius: 2
                color: slider.enabled ? root.rightColor : root.disabled
            }
        }

        handle: Rectangle {
            objectName: "handle"
            x: slider.leftPadding + slider.visualPosition * (slider.availableWidth - width)
            y: slider.topPadding + slider.availableHeight / 2 - height / 2
            implicitWidth: 16
            implicitHeight: 16
            radius: 8
            color: !slider.enabled ? root.disabled : slider.pressed ? "#ffffff" : "#f8f8f8"
            border.width: slider.enabled ? 1 : 0
            border.color: "#80888888"
        }

        FocusRect {
            focused: slider.activeFocus
            color: "#aaaaaa"
            width: slider.width + 8
            height: 16 + 8   // the handle is 16 across
            radius: 8
        }
    }

    Text {
        id: rightLabel
        color: root.color
        visible: text !== ""
    }
}
