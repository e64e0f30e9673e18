import QtQuick
import QtQuick.Controls
import QtQuick.Window
import Qt.labs.settings

ApplicationWindow {
    id: window

    readonly property string appName: "VANTOR Veltrano ®"
    readonly property int mode: veltranor ? veltranor.mode : 0
    readonly property bool linearityMode: mode === 0
    readonly property bool uniformityMode: mode === 1 || mode === 2
    readonly property bool isRunning: veltranor ? veltranor.running : false
    readonly property bool isDark: palette.window.hslLightness < 0.5

    // Secondary windows; created by the scene parts that own them.
    property var simulatedDisplay: mainUI.simulatedDisplay
    property var imageWindow: mainUI.imageWindow
    property var prefs: mainUI.prefs

    width: 780
    height: 600
    visible: true
    title: "%1 %2 – %3".arg(appName).arg(veltranoVersion)
                       .arg(uniformityMode ? "Uniformity Mode" : "Linearity Mode")

    Settings {
        id: windowSettings
        category: "MainWindow"
        property alias x: window.x
        property alias y: window.y
        property alias width: window.width
        property alias height: window.height
        property int imageShown: 0
        property int dummyShown: 0
    }

    function clampToScreen() {
        const s = window.screen
        if (!s)
            return
        if (width > s.desktopAvailableWidth)
            width = s.desktopAvailableWidth
        if (height > s.desktopAvailableHeight)
            height = s.desktopAvailableHeight
        const left = s.virtualX
        const top = s.virtualY
        if (x < left)
            x = left
        if (y < top)
            y = top
        if (x + width > left + s.desktopAvailableWidth)
            x = left + s.desktopAvailableWidth - width
        if (y + height > top + s.desktopAvailableHeight)
            y = top + s.desktopAvailableHeight - height
    }

    onVisibleChanged: if (visible) clampToScreen()

    Component.onCompleted: {
        if (windowSettings.imageShown !== 0 && imageWindow)
            imageWindow.show()
        if (windowSettings.dummyShown !== 0 && simulatedDisplay)
            simulatedDisplay.show()
        window.raise()
        window.requestActivate()
    }

    onClosing: function(close) {
        if (veltranor)
            veltranor.running = false
        window.contentItem.forceActiveFocus()
        windowSettings.dummyShown = (simulatedDisplay && simulatedDisplay.visible) ? 1 : 0
        windowSettings.imageShown = (imageWindow && imageWindow.visible) ? 1 : 0
        windowSettings.sync()
        if (simulatedDisplay)
            simulatedDisplay.close()
        if (imageWindow)
            imageWindow.close()
        if (prefs)
            prefs.close()
    }

    Connections {
        target: Qt.application
        function onAboutToQuit() {
            if (veltranor && veltranor.updater)
                veltranor.updater.shutdown()
            window.close()
        }
    }

    MainUI {
        id: mainUI
        anchors.fill: parent
    }
}
