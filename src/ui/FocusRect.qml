import QtQuick

// Dotted keyboard-focus outline, drawn the way Windows marks focus. Hidden on
// other platforms.
Canvas {
    id: focusRect

    property bool focused: parent ? parent.activeFocus : false
    property bool isDark: palette.window.hsvValue < 0.5
    property bool isWindows: Qt.platform.os === "windows"
    property color color: isDark ? "white" : "black"
    property real radius: 4

    width: parent ? parent.width : 0
    height: parent ? parent.height : 0
    anchors.centerIn: parent
    visible: isWindows && focused

    // A canvas resized while hidden is only scaled when shown again.
    onVisibleChanged: if (visible) requestPaint()
    onColorChanged: requestPaint()
    onRadiusChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        ctx.lineWidth = 1
        ctx.strokeStyle = focusRect.color
        ctx.setLineDash([1, 1])
        ctx.beginPath()
        ctx.roundedRect(0.5, 0.5, width - 1, height - 1, radius, radius)
        ctx.stroke()
    }
}
