import QtQuick
import QtQuick.Window
import Qt.labs.settings
import PlatformHelper 1.0

// The simulated wall: the test colour in linearity mode, the LDMs with their
// gains in the uniformity modes. Its LDM views also answer the dummy
// camera's observation requests, so they exist while the window is hidden.
Window {
    id: window

    property string appName: "VANTOR Veltrano ®"
    readonly property var display: veltranor ? veltranor.display : null
    readonly property bool linearityMode: veltranor ? veltranor.mode === 0 : true
    property alias ldmGrid: ldmGrid

    width: 640
    height: 480
    visible: false
    title: qsTr("%1 Simulated Display").arg(appName)
    color: linearityMode ? (display && display.colorStr !== "" ? display.colorStr : "black") : "black"

    Settings {
        category: "DummyWindow"
        property alias x: window.x
        property alias y: window.y
        property alias width: window.width
        property alias height: window.height
    }

    // Shown, it lies on the screen with its frame inside, whatever was stored.
    onVisibleChanged: if (visible) PlatformHelper.placeOnScreen(window)

    Item {
        id: wall
        visible: !window.linearityMode
        anchors.centerIn: parent
        width: parent.width * 0.8
        height: parent.height * 0.8

        LdmGrid {
            id: ldmGrid
            objectName: "simulatedWall"
            showColor: true
            selectionMode: "dat"
        }
    }

    Text {
        id: readout
        objectName: "colorReadout"
        visible: window.linearityMode
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 8
        textFormat: Text.PlainText
        font.family: "monospace"
        color: "white"
        style: Text.Outline
        styleColor: "black"
        text: window.display ? window.display.colorStr + "  " + window.display.colorReadout : ""
    }
}
