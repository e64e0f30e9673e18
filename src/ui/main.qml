import QtQuick
import QtQuick.Controls
import QtQuick.Window
import Qt.labs.settings
import PlatformHelper 1.0

ApplicationWindow {
    id: window

    readonly property string appName: "VANTOR Veltrano ®"
    property alias mode: mainUI.mode
    property alias linearityMode: mainUI.linearityMode
    property alias balanceMode: mainUI.balanceMode
    property alias templateMode: mainUI.templateMode
    property alias uniformityMode: mainUI.uniformityMode
    readonly property bool isDark: palette.window.hsvValue < 0.5
    // Not delayed: the menus follow the run at once.
    readonly property bool isRunning: veltranor.running

    // The secondary windows, made hidden with the scene.
    property alias simulatedDisplay: mainUI.simulatedDisplay
    property alias imageWindow: mainUI.imageWindow
    property alias prefs: mainUI.prefs

    // The text item that the Edit menu and the fields' context menus act on.
    property Item editItem: null

    width: 780
    height: 600
    minimumWidth: mainUI.minimumWidth
    minimumHeight: mainUI.minimumHeight + (menuBar ? menuBar.height : 0)
    visible: true
    color: "#1A1A1A"
    title: "%1 %2 – %3".arg(appName).arg(veltranoVersion)
                       .arg(uniformityMode ? "Uniformity Mode" : "Linearity Mode")

    // A permanent dark look; the window colour draws the control borders.
    palette.window: "#888888"
    palette.text: "white"
    palette.base: "transparent"

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

    // Never smaller than its minimum, which grows as panes appear; on the
    // screen with its frame inside.
    function clampToScreen() {
        fitMinimum()
        PlatformHelper.placeOnScreen(window)
    }
    function fitMinimum() {
        if (width < minimumWidth)
            width = minimumWidth
        if (height < minimumHeight)
            height = minimumHeight
    }
    onMinimumWidthChanged: fitMinimum()
    onMinimumHeightChanged: fitMinimum()

    // Centres the main window and stacks the two device windows over it.
    function resetWindows() {
        const s = window.screen
        if (s) {
            x = (s.width - width) / 2
            y = (s.height - height) / 2
        }
        visible = true
        const others = [[simulatedDisplay, 75], [imageWindow, 150]]
        for (const [w, offset] of others) {
            if (!w)
                continue
            w.x = x + offset
            w.y = y + offset
            w.width = width
            w.height = height
        }
    }

    // ----------------------------------------------------------- edit item

    function insideContent(item, root) {
        for (let p = item; p; p = p.parent) {
            if (p === root)
                return true
        }
        return false
    }

    // Menus live in the overlay (popups) or the menu bar, outside the content.
    function inMenu(item) {
        return insideContent(item, window.Overlay.overlay) || insideContent(item, menuBar)
    }

    function updateEditItem() {
        let focused = window.activeFocusItem
        if (!focused && prefs)
            focused = prefs.activeFocusItem
        if (focused && inMenu(focused))
            return
        let next = null
        if (focused && (insideContent(focused, window.contentItem)
                        || (prefs && insideContent(focused, prefs.contentItem))))
            next = focused
        if (next === editItem)
            return
        const previous = editItem
        editItem = next
        if (next)
            next.forceActiveFocus()
        if (prefs && prefs.hasOwnProperty("editItem"))
            prefs.editItem = next
        if (previous && previous.selectByMouse && typeof previous.deselect === "function")
            previous.deselect()
    }

    onActiveFocusItemChanged: updateEditItem()
    Connections {
        target: window.prefs
        ignoreUnknownSignals: true
        function onActiveFocusItemChanged() { Qt.callLater(window.updateEditItem) }
    }

    // ------------------------------------------------------------ lifecycle

    onVisibleChanged: if (visible) clampToScreen()

    Component.onCompleted: {
        // The main view makes its windows when it completes, which may come
        // after this: make them now.
        mainUI.createWindows()
        if (windowSettings.imageShown !== 0 && imageWindow)
            imageWindow.show()
        if (windowSettings.dummyShown !== 0 && simulatedDisplay)
            simulatedDisplay.show()
        window.raise()
        window.requestActivate()
    }

    onClosing: function(close) {
        // Closing the main window quits as File > Exit does: every window
        // closes and no processor request waits past it, whatever a stopped
        // run shows or sends on its way out.
        Qt.quit()
        veltranor.running = false
        mainUI.finishEditing()
        mainUI.saveViewState()
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
            if (veltranor.updater)
                veltranor.updater.shutdown()
            window.close()
        }
    }

    // -------------------------------------------------------------- menus

    // A closed menu gives the keyboard back to the main window, for its shortcuts.
    function menuClosed() {
        if (window.visible)
            window.requestActivate()
    }

    Action {
        id: resetWindowsAction
        text: "&Reset Windows"
        shortcut: "Shift+Ctrl+Alt+W"
        enabled: !window.isRunning
        onTriggered: window.resetWindows()
    }

    menuBar: MenuBar {
        id: menuBar
        palette.base: window.palette.window
        palette.highlightedText: window.palette.text
        palette.highlight: window.isDark ? "dimgray" : "lightgray"
        // Titles answer clicks and keys, not a resting pointer: a title
        // under the pointer kept the bar taking its menu for open after
        // Escape closed it, highlighted, and the next click closed it again.
        delegate: MenuBarItem { hoverEnabled: false }

        Menu {
            title: "&File"
            onClosed: window.menuClosed()
            VeltMenuItem { action: mainUI.fileOpenAction }
            VeltMenuItem { action: mainUI.fileSaveAction }
            MenuSeparator {}
            VeltMenuItem { action: mainUI.logSaveAction }
            MenuSeparator {}
            VeltMenuItem {
                action: Action {
                    text: "E&xit"
                    shortcut: StandardKey.Quit
                    onTriggered: Qt.quit()
                }
            }
        }

        Menu {
            title: "&Edit"
            onClosed: window.menuClosed()
            VeltMenuItem {
                action: Action {
                    text: "Cu&t"
                    shortcut: StandardKey.Cut
                    enabled: !!window.editItem && !!window.editItem.selectedText && !window.editItem.readOnly
                    onTriggered: window.editItem.cut()
                }
            }
            VeltMenuItem {
                action: Action {
                    text: "&Copy"
                    shortcut: StandardKey.Copy
                    enabled: !!window.editItem && !!window.editItem.selectedText
                    onTriggered: window.editItem.copy()
                }
            }
            VeltMenuItem {
                action: Action {
                    text: "&Paste"
                    shortcut: StandardKey.Paste
                    enabled: !!window.editItem && !!window.editItem.canPaste
                    onTriggered: window.editItem.paste()
                }
            }
            VeltMenuItem {
                action: Action {
                    text: "Select &All"
                    shortcut: StandardKey.SelectAll
                    enabled: !!window.editItem && !!window.editItem.text && !!window.editItem.selectByMouse
                    onTriggered: window.editItem.selectAll()
                }
            }
            MenuSeparator {}
            VeltMenuItem {
                action: Action {
                    text: "Pr&eferences..."
                    enabled: !window.isRunning
                    onTriggered: if (window.prefs) window.prefs.open()
                }
            }
        }

        Menu {
            title: "&Operation"
            onClosed: window.menuClosed()
            width: 350
            VeltMenuItem {
                objectName: "linearityModeItem"
                action: Action {
                    text: "&Linearity Mode"
                    checkable: true
                    checked: window.linearityMode
                    enabled: !window.isRunning
                    onTriggered: {
                        if (!window.linearityMode)
                            veltranor.mode = 0
                        checked = Qt.binding(() => window.linearityMode)
                    }
                }
            }
            VeltMenuItem {
                objectName: "uniformityModeItem"
                action: Action {
                    text: "&Uniformity Mode"
                    checkable: true
                    checked: window.uniformityMode
                    enabled: !window.isRunning
                    onTriggered: {
                        if (!window.uniformityMode)
                            veltranor.mode = 1
                        checked = Qt.binding(() => window.uniformityMode)
                    }
                }
            }
            MenuSeparator {}
            VeltMenuItem { action: mainUI.runCal }
            VeltMenuItem { action: mainUI.resumeCal }
            VeltMenuItem { action: mainUI.stopCal }
            VeltMenuItem { action: mainUI.takeReading }
            MenuSeparator {}
            VeltMenuItem {
                action: Action {
                    text: "Check for &Update..."
                    enabled: !window.isRunning
                    onTriggered: mainUI.checkForUpdates.trigger()
                }
            }
        }

        Menu {
            title: "&View"
            onClosed: window.menuClosed()
            VeltMenuItem {
                action: Action {
                    text: mainUI.outputControlsShown ? "Hide Output &Controls" : "Show Output &Controls"
                    onTriggered: mainUI.outputControlsShown = !mainUI.outputControlsShown
                }
            }
            VeltMenuItem {
                action: Action {
                    text: mainUI.logVisible ? "Hide &Log" : "Show &Log"
                    onTriggered: mainUI.logVisible = !mainUI.logVisible
                }
            }
            MenuSeparator {}
            VeltMenuItem { action: mainUI.zoomIn }
            VeltMenuItem { action: mainUI.zoomOut }
            VeltMenuItem { action: mainUI.zoomToFit }
        }

        Menu {
            title: "&Window"
            onClosed: window.menuClosed()
            width: 230
            VeltMenuItem { action: mainUI.showSimulatedDisplay }
            VeltMenuItem { action: mainUI.showCameraCapture }
            MenuSeparator {}
            VeltMenuItem { action: resetWindowsAction }
        }

        Menu {
            title: "&Help"
            onClosed: window.menuClosed()
            VeltMenuItem {
                action: Action {
                    text: "&About..."
                    onTriggered: mainUI.aboutBox.open()
                }
            }
        }
    }

    MainUI {
        id: mainUI
        objectName: "mainUI"
        anchors.fill: parent
    }
}
