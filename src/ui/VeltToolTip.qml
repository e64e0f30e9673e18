import QtQuick
import QtQuick.Controls

// Tooltip shown while its parent is hovered, after a second.
ToolTip {
    id: tip

    property bool isDark: palette.window.hsvValue < 0.5

    visible: parent ? parent.hovered === true : false
    delay: 1000

    contentItem: Text {
        leftPadding: 4
        rightPadding: 4
        text: tip.text
        font: tip.font
        color: tip.isDark ? "#eeeeee" : "#333333"
    }

    background: Rectangle {
        color: tip.isDark ? "#333333" : "#eeeeee"
        radius: 8
        border.width: 4
        border.color: tip.isDark ? "#01333333" : "#01eeeeee"
    }
}
