import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import Qt.labs.settings
import Qt.labs.platform as Platform

// The main view: the device and result panels over the application log, the
// footer with the status line and the run buttons, and every action, dialog
// and timer of the main window.
Item {
    id: mainUI

    readonly property string appName: "VANTOR Veltrano ®"

    readonly property int mode: veltranor.mode
    readonly property bool linearityMode: mode === 0
    readonly property bool balanceMode: mode === 1
    readonly property bool templateMode: mode === 2
    readonly property bool uniformityMode: mode === 1 || mode === 2
    readonly property bool isVantor: veltranor.display ? veltranor.display.isVantor : false

    // Both follow Veltranor once the current event has been handled.
    property bool isRunning: false
    Binding on isRunning { value: veltranor.running; delayed: true }
    property bool calibrationAvailable: false
    Binding on calibrationAvailable { value: veltranor.calibrationAvailable; delayed: true }

    readonly property string statusString: veltranor.statusString
    readonly property int updatesAvailable: veltranor.updater ? veltranor.updater.available : 0
    property bool manualUpdateCheck: false
    // Set while an update check asked for by the operator is under way: only
    // that check's result may end the busy phase it started.
    property bool updateCheckBusy: false
    property bool autoRestart: false
    property int restartSeconds: 10
    property string dragMode: "dat"
    property string savedDragMode: "dat"
    readonly property bool allowDragModes: uniformityMode
    property alias showLdm: displayPanel.showLdm
    property real maxRGB: 1.0

    property bool outputControlsShown: false
    property bool logVisible: false

    // What the status line shows.
    property string statusText: appName + " " + veltranoVersion + "  ·  © 2025 Tessaline. All rights reserved."

    property var simulatedDisplay: null
    property var imageWindow: null
    property var prefs: null

    // Exposed for the window and the menus.
    property alias runCal: runCal
    property alias runStopCal: runStopCal
    property alias resumeCal: resumeCal
    property alias stopCal: stopCal
    property alias takeReading: takeReading
    property alias readCountTest: readCountTest
    property alias developerOptions: developerOptions
    property alias toggleAutoRestart: toggleAutoRestart
    property alias stopTimer: stopTimer
    property alias fileOpenAction: fileOpenAction
    property alias fileSaveAction: fileSaveAction
    property alias logSaveAction: logSaveAction
    property alias showSimulatedDisplay: showSimulatedDisplay
    property alias showCameraCapture: showCameraCapture
    property alias zoomIn: zoomIn
    property alias alternateZoomIn: alternateZoomIn
    property alias zoomOut: zoomOut
    property alias zoomToFit: zoomToFit
    property alias zoomNone: zoomNone
    property alias checkForUpdates: checkForUpdates
    property alias repaintLdms: repaintLdms
    property alias captureRepaint: captureRepaint
    property alias restartTimer: restartTimer
    property alias updateBox: updateBox
    property alias messageBox: messageBox
    property alias replaceBox: replaceBox
    property alias aboutBox: aboutBox
    property alias correctionOpenDialog: correctionOpenDialog
    property alias correctionSaveDialog: correctionSaveDialog
    property alias logSaveDialog: logSaveDialog
    property alias installerSaveDialog: installerSaveDialog
    property alias splitView: splitView
    property alias screenPanel: screenPanel

    // The view's minimum: every pane shown fits whole. The log pane, when
    // shown, adds the handle and its own minimum; it gives up its preferred
    // height to the panels above (see its maximum height).
    readonly property int minimumWidth: Math.max(upperRow.implicitWidth,
                                                 logVisible ? appLogPanel.Layout.minimumWidth : 0) + 32
    readonly property int minimumHeight: 16 + upperRow.implicitHeight
                                         + (logVisible ? 16 + appLogPanel.Layout.minimumHeight : 0)
                                         + 16 + footer.height

    // The window's edit item (a text field being edited), if any.
    function editItem() {
        const w = ApplicationWindow.window
        return w ? w.editItem : null
    }

    // Commits a text field that is being edited, so that the value counts.
    function finishEditing() {
        const item = editItem()
        // A VeltTextField: accept the text when valid, else restore it.
        if (item && typeof item.finishEditing === "function" && item.hasOwnProperty("emptyAllowed"))
            item.finishEditing()
    }

    // Shows the simulated display for a run without raising it; the main
    // window keeps the keyboard, so Escape still stops the run.
    function showSimulatedWindowForRun() {
        if (veltranor.running && veltranor.showSimulatedDisplay && simulatedDisplay && !simulatedDisplay.visible) {
            simulatedDisplay.visible = true
            const w = ApplicationWindow.window
            if (w)
                w.requestActivate()
        }
    }

    // The file a save dialog hands over, as a file URL, with `suffix` added
    // when its name has none. A name typed into the dialog comes back as a
    // bare path, without the "file:" scheme.
    function withDefaultSuffix(url, suffix) {
        let text = url.toString()
        if (text.startsWith("/"))
            text = "file://" + text
        else if (/^[A-Za-z]:[\/\\]/.test(text))
            text = "file:///" + text
        const name = text.substring(text.lastIndexOf("/") + 1)
        if (suffix === "" || name === "" || name.indexOf(".") >= 0)
            return text
        return text + "." + suffix
    }

    // The file a save dialog's accept names. The dialog joins whatever was
    // typed to its folder, a full path too: that stands as typed.
    function chosenFile(dialog) {
        const local = text => text.startsWith("file://") ? decodeURIComponent(text.substring(7)) : text
        const file = local(dialog.selectedFile.toString())
        const folder = local(dialog.currentFolder.toString()).replace(/\/+$/, "")
        if (folder !== "" && file.startsWith(folder + "//"))
            return "file://" + encodeURI(file.substring(folder.length + 1))
        return dialog.selectedFile
    }

    // The footer's bar tells how the file operation whose text it shows
    // ended: red when it failed, green when it succeeded.
    function showFileOutcome(succeeded) {
        veltranor.status = succeeded ? 1 : -1
    }

    // Saves to `file` (a file URL) through `save(file)`; a file that exists
    // already is replaced only once the operator agrees. The question names
    // the file that is written, its suffix included.
    function saveAsking(file, save) {
        if (!veltranor.fileExists(file)) {
            save(file)
            return
        }
        replaceBox.file = file
        replaceBox.save = save
        let name = file.substring(file.lastIndexOf("/") + 1)
        try { name = decodeURIComponent(name) } catch (e) {} // a typed name is not encoded
        replaceBox.text = name + " already exists.\nDo you want to replace it?"
        replaceBox.open()
    }

    // Opens a save dialog on `file` (a file URL): its folder list and its
    // path bar show the file's folder.
    function openSaveDialog(dialog, file) {
        const text = file.toString()
        dialog.currentFolder = text.substring(0, text.lastIndexOf("/"))
        dialog.selectedFile = file
        dialog.open()
    }

    // The file the installer dialog proposes: on macOS in the user's real
    // downloads folder, elsewhere as the platform dialog expects.
    function installerProposal(os, installer) {
        if (os === "osx") {
            let folder = Platform.StandardPaths.writableLocation(Platform.StandardPaths.DownloadLocation).toString()
            if (!folder.endsWith("/"))
                folder += "/"
            return folder + installer
        }
        return "file:///" + installer
    }

    function restartRun() {
        finishEditing()
        if (veltranor.resumeStep !== 0 && uniformityMode)
            veltranor.resume()
        else
            veltranor.running = true
    }

    // ------------------------------------------------------------- actions

    Action {
        id: runCal
        text: "&Run"
        icon.source: "icons/IconRun.png"
        shortcut: "Ctrl+R"
        enabled: !veltranor.running
        onTriggered: if (!veltranor.running) runStopCal.trigger()
    }

    Action {
        id: runStopCal
        text: veltranor.running ? "Stop" : "Run"
        icon.source: veltranor.running ? "icons/IconStop.png" : "icons/IconRun.png"
        enabled: !mainUI.updateCheckBusy
                 && (mainUI.linearityMode || veltranor.running
                     || (veltranor.display && veltranor.display.adjustableLdmCount !== 0
                         && veltranor.balanceTargetRed !== 0
                         && veltranor.imageSource && veltranor.imageSource.cameraReady))
        onTriggered: {
            if (!veltranor.running)
                mainUI.finishEditing()
            veltranor.running = !veltranor.running
            mainUI.showSimulatedWindowForRun()
        }
    }

    Action {
        id: resumeCal
        text: "Resume"
        icon.source: "icons/IconResume.png"
        shortcut: "Ctrl+Alt+R"
        enabled: !mainUI.isRunning && veltranor.resumeStep !== 0
        onTriggered: {
            mainUI.finishEditing()
            mainUI.autoRestart = false
            stopTimer.trigger()
            veltranor.resume()
            mainUI.showSimulatedWindowForRun()
        }
    }

    Action {
        id: stopCal
        text: "&Stop"
        icon.source: "icons/IconStop.png"
        shortcut: StandardKey.Cancel
        // Also enabled during the restart countdown, whose text offers Escape.
        enabled: veltranor.running || restartTimer.running
        onTriggered: {
            if (veltranor.running)
                runStopCal.trigger()
            else if (restartTimer.running)
                stopTimer.trigger()
        }
    }

    Action {
        id: takeReading
        text: "Spot Measure"
        enabled: !mainUI.isRunning && mainUI.linearityMode
        onTriggered: {
            mainUI.finishEditing()
            mainUI.autoRestart = false
            stopTimer.trigger()
            veltranor.takeMeasurement()
        }
    }

    Action {
        id: readCountTest
        text: "Read-Count Test"
        enabled: mainUI.linearityMode && !veltranor.running
        onTriggered: {
            mainUI.finishEditing()
            mainUI.autoRestart = false
            stopTimer.trigger()
            veltranor.test()
        }
    }

    Action {
        id: developerOptions
        text: "Developer Options"
        checkable: true
        checked: veltranor.useDebugOptions
        shortcut: "Ctrl+D"
        enabled: !mainUI.isRunning
        onTriggered: veltranor.useDebugOptions = !veltranor.useDebugOptions
    }

    Action {
        id: toggleAutoRestart
        text: "Auto-Restart after " + mainUI.restartSeconds + " sec."
        checkable: true
        checked: mainUI.autoRestart
        onTriggered: {
            mainUI.autoRestart = !mainUI.autoRestart
            stopTimer.trigger()
        }
    }

    Action {
        id: stopTimer
        text: veltranor.running ? "" : "Cancel Restart"
        onTriggered: {
            restartTimer.stop()
            mainUI.statusText = ""
        }
    }

    Action {
        id: fileOpenAction
        text: "&Open Correction..."
        shortcut: StandardKey.Open
        enabled: !mainUI.isRunning
        onTriggered: {
            // In the folder of the last file saved or read, as the save dialogs.
            const folder = veltranor.proposedSaveFile(veltranor.defaultLogFileName()).toString()
            correctionOpenDialog.currentFolder = folder.substring(0, folder.lastIndexOf("/"))
            correctionOpenDialog.open()
        }
    }

    Action {
        id: fileSaveAction
        text: "&Save Correction…"
        shortcut: StandardKey.Save
        enabled: !mainUI.isRunning && mainUI.calibrationAvailable
        onTriggered: {
            mainUI.openSaveDialog(correctionSaveDialog, veltranor.proposedSaveFile(veltranor.filename))
        }
    }

    Action {
        id: logSaveAction
        text: "&Save Log…"
        enabled: !mainUI.isRunning
        onTriggered: {
            mainUI.openSaveDialog(logSaveDialog, veltranor.proposedSaveFile(veltranor.defaultLogFileName()))
            console.log("open, folder", logSaveDialog.currentFolder, "file", logSaveDialog.selectedFile)
        }
    }

    Action {
        id: showSimulatedDisplay
        text: "Show &Simulated Display"
        onTriggered: {
            if (!mainUI.simulatedDisplay)
                return
            if (!mainUI.simulatedDisplay.visible)
                mainUI.simulatedDisplay.show()
            mainUI.simulatedDisplay.raise()
        }
    }

    Action {
        id: showCameraCapture
        text: "Show Camera &Preview"
        enabled: !mainUI.isRunning
        onTriggered: {
            if (!mainUI.imageWindow)
                return
            if (!mainUI.imageWindow.visible)
                mainUI.imageWindow.show()
            mainUI.imageWindow.raise()
        }
    }

    Action {
        id: zoomIn
        text: "Zoom In"
        shortcut: StandardKey.ZoomIn
        enabled: mainUI.uniformityMode
        onTriggered: screenPanel.zoom(1.414213562373095)
    }

    Action {
        id: alternateZoomIn
        text: "Zoom In"
        shortcut: "Ctrl+="
        enabled: mainUI.uniformityMode
        onTriggered: zoomIn.trigger()
    }

    Action {
        id: zoomOut
        text: "Zoom Out"
        shortcut: StandardKey.ZoomOut
        enabled: mainUI.uniformityMode
        onTriggered: screenPanel.zoom(1.0 / 1.414213562373095)
    }

    Action {
        id: zoomToFit
        text: "Zoom To Fit"
        shortcut: "Ctrl+0"
        enabled: mainUI.uniformityMode
        onTriggered: screenPanel.zoom(0)
    }

    Action {
        id: zoomNone
        shortcut: "Ctrl+*"
        enabled: mainUI.uniformityMode
        onTriggered: {
            console.log("Zoom none")
            screenPanel.zoom(1)
        }
    }

    Action {
        id: checkForUpdates
        enabled: !mainUI.isRunning
        onTriggered: {
            veltranor.updater.available = -999
            veltranor.updater.manualCheck = true
            mainUI.manualUpdateCheck = true
            mainUI.statusText = "Checking for updates..."
            mainUI.updateCheckBusy = true
            veltranor.runNothing()
            veltranor.updater.check("release", true)
        }
    }

    // ----------------------------------------------------------- settings

    Settings {
        id: viewSettings
        category: "MainWindow"
        property alias autoRestart: mainUI.autoRestart
        property alias outputControlsVisible: mainUI.outputControlsShown
        property alias logVisible: mainUI.logVisible
        property alias dragMode: mainUI.dragMode
        property var splitView
    }

    // ------------------------------------------------------------ reactions


    onIsRunningChanged: {
        if (linearityMode)
            return
        if (isRunning) {
            savedDragMode = dragMode
            dragMode = "dat"
        } else {
            dragMode = savedDragMode
        }
    }

    onShowLdmChanged: screenPanel.showLdm(showLdm)
    onDragModeChanged: screenPanel.setDragMode(dragMode)

    Connections {
        target: veltranor
        // Every announcement shows, also one repeating the text the footer
        // cleared since (a refusal pressed twice).
        function onStatusStringChanged() {
            mainUI.statusText = veltranor.statusString
        }
        function onRunningChanged() {
            if (!veltranor.running && mainUI.autoRestart) {
                restartTimer.count = mainUI.restartSeconds
                restartTimer.restart()
            }
        }
        function onShowMessageBox(title, message) {
            messageBox.title = title
            messageBox.text = message
            messageBox.open()
        }
    }

    Connections {
        target: veltranor.tileGrader
        ignoreUnknownSignals: true
        function onScreenImageUpdated(image) {
            if (screenPanel.screenView)
                screenPanel.screenView.image = image
        }
    }

    onUpdatesAvailableChanged: updateResult(updatesAvailable)

    // Every answer ends the busy phase of a manual check, also one that
    // changes nothing (an empty feed) and so never reaches updateResult.
    Connections {
        target: veltranor.updater
        ignoreUnknownSignals: true
        function onCheckEnded() {
            if (mainUI.updateCheckBusy && mainUI.statusText === "Checking for updates...")
                mainUI.statusText = ""
            mainUI.endUpdateCheck()
        }
    }

    function endUpdateCheck() {
        if (!updateCheckBusy)
            return
        veltranor.running = false
        updateCheckBusy = false
    }

    // The result of an update check.
    function updateResult(n) {
        // The reset that starts a manual check is no result.
        if (n === -999)
            return
        endUpdateCheck()

        updateBox.macOkButton.text = "  Ok  "
        updateBox.winOkButton.text = "  Ok  "
        updateBox.cancelButton.text = " Cancel "
        updateBox.button3.visible = false

        if (manualUpdateCheck)
            statusText = ""
        console.log("Update available:", n)

        if (n > 0) {
            const updater = veltranor.updater
            const v = updater.versions[n - 1]
            const notes = updater.notes[n - 1]
            updateBox.offeredVersion = v
            updateBox.title = "Update Available"
            updateBox.macOkButton.text = "Install Update"
            updateBox.winOkButton.text = "Install Update"
            updateBox.cancelButton.text = "Remind Me Later"
            updateBox.button3.text = "Skip This Update"
            updateBox.button3.visible = true
            updateBox.showCancel = true
            updateBox.body.textFormat = Text.StyledText
            let text = notes ? "New version " + v + " is available:<br><br>" + notes + "<br><br>Do you want to install it?"
                             : "New version " + v + " is available.<br><br>Do you want to install it?"
            if (updater.skipVersion === v) {
                text += "<br><br>(This version is skipped during startup check.)"
                updateBox.button3.visible = false
            }
            updateBox.text = text
            updateBox.open()
        } else if (n === 0 && manualUpdateCheck) {
            updateBox.title = "Check For Update"
            updateBox.text = "No newer version found; " + veltranoVersion + " is current."
            updateBox.showCancel = false
            updateBox.open()
        } else if (n < 0 && manualUpdateCheck) {
            updateBox.title = "Check For Update"
            updateBox.text = "Error: " + veltranor.updater.error + "."
            updateBox.showCancel = false
            updateBox.open()
        }
    }

    // ---------------------------------------------------------------- timers

    // Auto-restart countdown (a testing aid).
    Timer {
        id: restartTimer
        property int count: 10
        interval: 1000
        repeat: true
        onTriggered: {
            if (veltranor.running || !veltranor.useDebugOptions) {
                stop()
                return
            }
            mainUI.statusText = "restarting in " + count + "; hit ESC to stop..."
            count -= 1
            if (count <= 0) {
                if (!veltranor.running)
                    mainUI.restartRun()
                stop()
            }
        }
    }

    // Start-up: fit the wall view, say who we are and look for updates.
    Timer {
        id: startupTimer
        interval: 33
        running: true
        onTriggered: {
            // Started in a uniformity mode: the wall comes in now, as a
            // switch into that mode brings it, not with the first refresh.
            if (mainUI.uniformityMode)
                veltranor.fetchLdms()
            zoomToFit.trigger()
            console.log(mainUI.appName, veltranoVersion, "using Qt", qtVersion, "on", Qt.platform.os)
            veltranor.updater.check("release", true)
        }
    }

    // Repaint after a fetch: every LDM view redraws, then a fresh photo when
    // the camera can take one.
    Timer {
        id: repaintLdms
        interval: 200
        onTriggered: {
            if (!mainUI.uniformityMode)
                return
            veltranor.display.ldmData = 1
            const source = veltranor.imageSource
            if (source && source.cameraReady && !(source.isDummy && mainUI.templateMode))
                captureRepaint.start()
        }
    }

    Timer {
        id: captureRepaint
        interval: veltranor.readDelay
        // A photo taken during a run would take the run's pending
        // observation and end the run, so none is taken then.
        onTriggered: {
            if (mainUI.uniformityMode && !veltranor.running)
                veltranor.grabImage(false)
        }
    }

    // --------------------------------------------------------------- dialogs

    FileDialog {
        id: correctionOpenDialog
        title: "Select a correction file"
        fileMode: FileDialog.OpenFile
        // Corrections first; the log's text files only when asked for.
        nameFilters: ["Correction files (*.tsv)", "Tab-separated-value files (*.tsv *.txt)"]
        onAccepted: {
            console.info("File selected!")
            mainUI.showFileOutcome(veltranor.readCalibration(selectedFile))
        }
    }

    FileDialog {
        id: correctionSaveDialog
        title: "Save correction file"
        fileMode: FileDialog.SaveFile
        nameFilters: ["Tab-separated-value files (*.tsv *.txt)"]
        // The filter above shows only these suffixes, so a saved file must
        // have one of them to be found again.
        defaultSuffix: "tsv"
        acceptLabel: "Save"
        // The suffix is added after the dialog closes: replaceBox asks about
        // the name that is really written.
        options: FileDialog.DontConfirmOverwrite
        onAccepted: {
            console.info("File selected!")
            mainUI.saveAsking(mainUI.withDefaultSuffix(mainUI.chosenFile(this), defaultSuffix),
                              file => mainUI.showFileOutcome(veltranor.saveCalibration(file)))
        }
    }

    // Asks before a save replaces a file; Cancel is the default.
    MessageBox {
        id: replaceBox
        property string file: ""
        property var save: null
        title: "Replace file?"
        showCancel: true
        cancelButton.highlighted: true
        body.textFormat: Text.PlainText
        onOkChosenChanged: {
            if (okChosen && save)
                save(file)
        }
        onVisibleChanged: if (!visible) save = null
    }

    FileDialog {
        id: logSaveDialog
        title: "Save log file"
        fileMode: FileDialog.SaveFile
        nameFilters: ["Text files (*.txt)"]
        defaultSuffix: "txt"
        acceptLabel: "Save"
        options: FileDialog.DontConfirmOverwrite
        onAccepted: {
            const file = mainUI.withDefaultSuffix(mainUI.chosenFile(this), defaultSuffix)
            console.info("selected, folder", currentFolder, "file", file)
            mainUI.saveAsking(file, file => mainUI.showFileOutcome(veltranor.saveLog(file)))
        }
    }

    FileDialog {
        id: installerSaveDialog
        title: "Save Installer"
        fileMode: FileDialog.SaveFile
        defaultSuffix: Qt.platform.os === "osx" ? "dmg" : "exe"
        acceptLabel: "Save"
        readonly property string installerUrl: {
            const n = mainUI.updatesAvailable
            const urls = veltranor.updater ? veltranor.updater.urls : []
            return n > 0 && n <= urls.length ? urls[n - 1] : ""
        }
        function propose() {
            const n = mainUI.updatesAvailable
            const installers = veltranor.updater.installers
            selectedFile = mainUI.installerProposal(Qt.platform.os, n > 0 && n <= installers.length ? installers[n - 1] : "")
        }
        options: FileDialog.DontConfirmOverwrite
        onAccepted: {
            const file = mainUI.withDefaultSuffix(mainUI.chosenFile(this), defaultSuffix)
            const url = installerUrl
            console.info("File selected: ", file)
            console.info("       Folder: ", currentFolder)
            console.info("    installer: ", url)
            mainUI.saveAsking(file, file => veltranor.updater.download(url, file))
        }
        onRejected: console.info("Folder: ", currentFolder)
    }

    MessageBox {
        id: updateBox
        parentItem: mainUI
        property string offeredVersion: ""
        onOkChosenChanged: {
            if (okChosen && mainUI.updatesAvailable > 0) {
                installerSaveDialog.propose()
                installerSaveDialog.open()
            }
        }
        onButton3ChosenChanged: {
            if (button3Chosen)
                veltranor.updater.skipVersion = offeredVersion
        }
    }

    MessageBox {
        id: messageBox
        parentItem: mainUI
    }

    AboutBox {
        id: aboutBox
        parentItem: mainUI
    }

    // ------------------------------------------------------ secondary windows

    // Makes the secondary windows, once.
    function createWindows() {
        if (!simulatedDisplay)
            simulatedDisplay = simulatedDisplayComponent.createObject(mainUI)
        if (!imageWindow)
            imageWindow = imageWindowComponent.createObject(mainUI)
        if (!prefs)
            prefs = prefsComponent.createObject(mainUI, { parentItem: mainUI })
    }

    Component.onCompleted: {
        createWindows()
        if (viewSettings.splitView)
            splitView.restoreState(viewSettings.splitView)
        screenPanel.setDragMode(uniformityMode ? dragMode : "ref")
        screenPanel.showLdm(showLdm)
    }

    // The splitter's state goes into the settings when the window closes and
    // when the scene goes away.
    function saveViewState() {
        viewSettings.splitView = splitView.saveState()
    }
    Component.onDestruction: saveViewState()

    Component { id: simulatedDisplayComponent; SimulatedDisplayWindow {} }
    Component { id: imageWindowComponent; ImageWindow {} }
    Component { id: prefsComponent; Prefs {} }

    // ------------------------------------------------------------------ view

    Rectangle {
        anchors.fill: parent
        color: "#1A1A1A"
    }

    SplitView {
        id: splitView
        objectName: "splitView"
        orientation: Qt.Vertical
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.bottom: footer.top
        anchors.margins: 16

        handle: Item {
            implicitHeight: 16
            Repeater {
                model: [-3, 0, 3]
                Rectangle {
                    width: 40
                    height: 1
                    anchors.horizontalCenter: parent.horizontalCenter
                    y: parent.height / 2 + modelData
                    color: SplitHandle.pressed ? "white"
                                               : SplitHandle.hovered ? Qt.lighter("#505050", 2.0) : "#505050"
                }
            }
        }

        RowLayout {
            id: upperRow
            spacing: 16
            SplitView.fillHeight: true
            SplitView.minimumHeight: implicitHeight

            ColumnLayout {
                id: panelColumn
                spacing: 16
                Layout.alignment: Qt.AlignTop
                Layout.fillWidth: true
                Layout.fillHeight: true

                ColorimeterPanel {
                    id: colorimeterPanel
                    title: "Correction Controls"
                    visible: mainUI.linearityMode
                    Layout.fillWidth: true
                }
                CameraPanel {
                    id: cameraPanel
                    title: "Camera Controls"
                    visible: mainUI.uniformityMode
                    Layout.fillWidth: true
                }
                DisplayPanel {
                    id: displayPanel
                    title: "VANTOR Controls"
                    Layout.fillWidth: true
                }
                BasicPanel {
                    id: linearityLogPanel
                    title: "Correction & Measurement Data"
                    visible: mainUI.linearityMode
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    content: LogPanel {
                        id: linearityLogView
                        objectName: "linearityLogView"
                        model: linearityLog
                        format: "message"
                        minimumRows: 4
                    }
                }
                BasicPanel {
                    id: wallPanel
                    title: mainUI.balanceMode ? "LDMs" : "Tiles"
                    visible: mainUI.uniformityMode
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    content: ScreenPanel {
                        id: screenPanel
                    }
                }
            }

            OutputControlPanel {
                id: outputControlPanel
                title: "Output Controls"
                visible: mainUI.linearityMode && mainUI.outputControlsShown
                Layout.alignment: Qt.AlignTop
                Layout.fillHeight: true
            }
        }

        BasicPanel {
            id: appLogPanel
            title: "Log Messages"
            visible: mainUI.logVisible
            SplitView.minimumHeight: 80
            SplitView.preferredHeight: 160
            // Never so tall that the panels above lose their room.
            SplitView.maximumHeight: Math.max(SplitView.minimumHeight,
                                              splitView.height - upperRow.implicitHeight - 16)
            Layout.minimumHeight: 80
            content: LogPanel {
                id: appLogView
                objectName: "appLogView"
                model: appLog
                format: "display"
            }
        }
    }

    // The log views' text: the correction data greys while a run writes it.
    Binding {
        target: linearityLogView
        property: "textColor"
        value: veltranor.running ? "lightgray" : "white"
    }
    Binding {
        target: appLogView
        property: "textColor"
        value: "white"
    }

    // ---------------------------------------------------------------- footer

    Rectangle {
        id: footer
        objectName: "footer"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: footerRow.height + 12
        color: "#1A1A1A"

        RowLayout {
            id: footerRow
            width: mainUI.width - 16
            anchors.verticalCenter: parent.verticalCenter
            spacing: 8

            Item {
                id: statusArea
                Layout.fillWidth: true
                implicitHeight: statusLine.implicitHeight

                ProgressBar {
                    id: progressBar
                    objectName: "progressBar"
                    anchors.left: parent.left
                    anchors.leftMargin: 16
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    from: 0.0
                    to: 1.0
                    value: veltranor.progress
                    visible: veltranor.progress >= 0 || veltranor.status !== 0
                    background: Rectangle {
                        implicitWidth: 200
                        implicitHeight: 4
                        radius: 4
                        color: veltranor.status < 0 ? "red" : veltranor.status > 0 ? "#009A17" : "transparent"
                        border.color: "#505050"
                        border.width: veltranor.status === 0 ? 1 : 0
                    }
                    contentItem: Item {
                        implicitWidth: 200
                        implicitHeight: 4
                        Rectangle {
                            width: progressBar.visualPosition * parent.width
                            height: parent.height
                            radius: 4
                            color: "gray"
                        }
                    }
                }

                Text {
                    id: statusShadow
                    x: statusLine.x + 1
                    y: statusLine.y + 1
                    width: statusLine.width
                    text: statusLine.text
                    font: statusLine.font
                    color: "black"
                    horizontalAlignment: statusLine.horizontalAlignment
                    elide: statusLine.elide
                    padding: statusLine.padding
                    leftPadding: statusLine.leftPadding
                    rightPadding: statusLine.rightPadding
                }

                Text {
                    id: statusLine
                    objectName: "statusLine"
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    text: mainUI.statusText
                    font.bold: true
                    color: "white"
                    horizontalAlignment: Text.AlignHCenter
                    elide: Text.ElideRight
                    padding: 4
                    leftPadding: 16
                    rightPadding: 16
                }

                // An elided line reads whole in its tooltip.
                HoverHandler { id: statusHover }
                VeltToolTip {
                    id: statusToolTip
                    objectName: "statusToolTip"
                    isDark: true
                    text: mainUI.statusText
                    visible: statusHover.hovered && statusLine.truncated
                    width: Math.min(implicitWidth, mainUI.width - 32)
                    Component.onCompleted: contentItem.wrapMode = Text.Wrap
                }

                MouseArea {
                    anchors.fill: parent
                    acceptedButtons: Qt.RightButton
                    onPressed: function(mouse) {
                        if (veltranor.status === 0)
                            return
                        if (Qt.platform.os === "osx")
                            nativeStatusMenu.open()
                        else
                            statusMenu.popup()
                    }
                }

                Menu {
                    id: statusMenu
                    objectName: "statusMenu"
                    // At least 120, and wide enough for the whole entry.
                    width: Math.max(120, resetStatusItem.implicitWidth + leftPadding + rightPadding)
                    VeltMenuItem {
                        id: resetStatusItem
                        objectName: "resetStatusItem"
                        text: "Reset Status Color"
                        enabled: veltranor.status !== 0
                        onTriggered: veltranor.status = 0
                    }
                }

                Platform.Menu {
                    id: nativeStatusMenu
                    Platform.MenuItem {
                        text: "Reset Status Color"
                        enabled: veltranor.status !== 0
                        onTriggered: veltranor.status = 0
                    }
                }
            }

            VeltButton {
                id: resumeButton
                objectName: "resumeButton"
                isDark: true
                action: resumeCal
                visible: mainUI.linearityMode
                VeltToolTip { isDark: true; text: "Resume correction from last good step" }
            }

            VeltButton {
                id: runStopButton
                objectName: "runStopButton"
                isDark: true
                action: runStopCal
                VeltToolTip { isDark: true; text: mainUI.isRunning ? "Stop!" : "Run a full correction" }
            }
        }
    }
}
