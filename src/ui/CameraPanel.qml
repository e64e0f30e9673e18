import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The camera: its state, the lens and focal length of the lens
// compensation, and the connect and grab buttons.
BasicPanel {
    id: panel

    property var mainView: null
    readonly property var camera: veltranor ? veltranor.imageSource : null
    readonly property bool cameraReady: camera ? camera.cameraReady : false
    readonly property bool cameraBusy: camera ? camera.cameraBusy : false
    readonly property bool isRunning: mainView && mainView.isRunning !== undefined ? mainView.isRunning
                                                                                   : (veltranor ? veltranor.running : false)
    // No lens compensation is applied while no lens file is chosen: then the
    // pickers show no entry rather than one that is not in use.
    readonly property bool noLensFile: veltranor ? veltranor.lensFile === "" : true

    title: qsTr("Camera Controls")

    function findMainView() {
        for (let p = parent; p; p = p.parent) {
            if (p.dragMode !== undefined && p.isRunning !== undefined)
                return p
        }
        return null
    }
    Component.onCompleted: if (!mainView) mainView = findMainView()

    content: RowLayout {
        spacing: 4

        VeltLED {
            device: "Camera"
            status: panel.camera ? panel.camera.statusMessage : ""
        }
        Text { text: "<b>Camera</b>:"; color: "white" }
        Text {
            objectName: "cameraName"
            text: panel.camera ? panel.camera.cameraName : ""
            color: "white"
            Layout.minimumWidth: 60
        }
        Text { text: "<b>Lens</b>:"; color: "white"; Layout.leftMargin: 16 }
        OptionPicker {
            id: lensPicker
            objectName: "lensPicker"
            minimumWidth: 126
            valueRole: "type"
            model: veltranor ? veltranor.lensNameList.options : null
            current: veltranor ? veltranor.lensName : ""
            showNone: panel.noLensFile
            enabled: !panel.isRunning && panel.cameraReady
            onActivated: function(index) {
                veltranor.lensName = entry(index).type
                veltranor.getLensFiles()
            }
            VeltToolTip { isDark: true; text: "Select the lens you have on your camera" }
        }
        OptionPicker {
            id: lensFilePicker
            objectName: "lensFilePicker"
            minimumWidth: 152
            valueRole: "type"
            model: veltranor ? veltranor.lensFileList.options : null
            current: veltranor ? veltranor.lensFile : ""
            showNone: panel.noLensFile
            enabled: !panel.isRunning && panel.cameraReady
            onActivated: function(index) { veltranor.lensFile = entry(index).type }
            VeltToolTip {
                isDark: true
                text: "Choose the focal length you’re using. A setting like\n24~35mm means halfway between 24mm and 35mm;\nbe sure to zoom the lens to exactly the same value"
            }
        }
        Item { Layout.fillWidth: true }
        VeltButton {
            text: "Locate Cells"
            isDark: true
            visible: veltranor ? veltranor.mode === 2 : false
            enabled: panel.cameraReady && !panel.isRunning
            onPressed: veltranor.runMeshRegistration()
            VeltToolTip { isDark: true; text: "Find High Resolution Cell Points" }
        }
        Text {
            text: "ready"
            color: "white"
            opacity: panel.cameraReady ? 1.0 : 0.3
            leftPadding: 8
            rightPadding: 4
        }
        Text {
            text: "busy"
            color: "white"
            opacity: panel.cameraBusy ? 1.0 : 0.3
            leftPadding: 4
            rightPadding: 8
        }
        VeltButton {
            text: "Connect"
            icon.source: "icons/IconConnect.png"
            isDark: true
            enabled: !panel.cameraBusy && !panel.isRunning
            onPressed: panel.camera.connect()
            VeltToolTip { isDark: true; text: "Connect (or reconnect) the camera" }
        }
        VeltButton {
            text: "Grab"
            icon.source: "icons/IconGrab.png"
            isDark: true
            enabled: panel.cameraReady && !panel.isRunning
            onPressed: veltranor.grabImage()
            VeltToolTip { isDark: true; text: "Grab a frame from the camera" }
        }
    }
}
