import QtQuick
import QtQuick.Window
import Qt.labs.settings
import PlatformHelper 1.0
import ImageItem 1.0

// The camera preview: the last contoured, located or sampled image of the
// analysis. Its size is locked while a run is active.
Window {
    id: window

    property string appName: "VANTOR Veltrano ®"
    readonly property bool isRunning: veltranor ? veltranor.running : false
    property alias imageItem: imageItem
    // Set by the first image of the analysis.
    property bool hasPhoto: false

    width: 640
    height: 400
    visible: false
    title: qsTr("%1 Camera Preview").arg(appName)
    color: "gray"

    // While running: min = max = the size when the run started.
    property int lockedWidth: 640
    property int lockedHeight: 400
    minimumWidth: isRunning ? lockedWidth : 320
    minimumHeight: isRunning ? lockedHeight : 200
    maximumWidth: isRunning ? lockedWidth : 6400
    maximumHeight: isRunning ? lockedHeight : 4000
    flags: isRunning ? (Qt.Window | Qt.CustomizeWindowHint | Qt.WindowTitleHint | Qt.WindowCloseButtonHint)
                     : Qt.Window

    onIsRunningChanged: {
        if (isRunning) {
            lockedWidth = width
            lockedHeight = height
        }
    }

    Settings {
        category: "ImageWindow"
        property alias x: window.x
        property alias y: window.y
        property alias width: window.width
        property alias height: window.height
    }

    // Shown, it lies on the screen with its frame inside, whatever was stored.
    onVisibleChanged: if (visible) PlatformHelper.placeOnScreen(window)

    ImageItem {
        id: imageItem
        objectName: "previewImage"
        anchors.fill: parent
    }

    Text {
        objectName: "noPhotoText"
        anchors.centerIn: parent
        visible: !window.hasPhoto
        text: "No photo has been taken yet."
        color: "white"
    }

    function showPhoto(image) {
        imageItem.setImage(image)
        hasPhoto = true
    }

    Connections {
        target: veltranor ? veltranor.tileGrader : null
        ignoreUnknownSignals: true
        function onContouredImageUpdated(image) { window.showPhoto(image) }
        function onLocationsImageUpdated(image) { window.showPhoto(image) }
        function onSampledImageUpdated(image) { window.showPhoto(image) }
    }
}
