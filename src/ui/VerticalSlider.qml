import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// An upright slider between a top and a bottom text, with a two-coloured
// track. It snaps to its steps (none unless set) and is usable only while no
// run is active and its window is active.
ColumnLayout {
    id: root

    property alias topText: topLabel.text
    property alias bottomText: bottomLabel.text
    property alias slider: slider
    property color color: "white"
    property color topColor: "#888888"
    property color bottomColor: "#4444cc"

    Text {
        id: topLabel
        Layout.alignment: Qt.AlignHCenter
        horizontalAlignment: Text.AlignHCenter
        color: root.color
    }

    Slider {
        id: slider
        Layout.fillHeight: true
        Layout.minimumWidth: 40
        Layout.alignment: Qt.AlignHCenter
        orientation: Qt.Vertical
        snapMode: Slider.SnapAlways
        enabled: !veltranor.running && Window.active

        background: Item {
            x: slider.leftPadding + slider.availableWidth / 2 - width / 2
            y: slider.topPadding
            implicitWidth: 4
            implicitHeight: 200
            width: 4
            height: slider.availableHeight
            opacity: slider.enabled ? 1.0 : 0.5

            Rectangle {
                objectName: "trackTop"
                width: parent.width
                height: slider.visualPosition * parent.height
                radius: 2
                color: root.topColor
            }
            Rectangle {
                objectName: "trackBottom"
                y: slider.visualPosition * parent.height
                width: parent.width
                height: parent.height - y
                radius: 2
                color: root.bottomColor
            }
        }

        handle: Rectangle {
            objectName: "handle"
            x: slider.leftPadding + slider.availableWidth / 2 - width / 2
            y: slider.topPadding + slider.visualPosition * (slider.availableHeight - height)
            implicitWidth: 16
            implicitHeight: 16
            radius: 8
            color: !slider.enabled ? "#888888" : slider.pressed ? "#ffffff" : "#dddddd"
        }

        FocusRect {
            focused: slider.activeFocus
            color: "#aaaaaa"
            width: 16 + 10   // the handle is 16 across
            height: slider.height + 10
            radius: 8
        }
    }

    Text {
        id: bottomLabel
        Layout.alignment: Qt.AlignHCenter
        horizontalAlignment: Text.AlignHCenter
        color: root.color
    }
}
