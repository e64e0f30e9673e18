import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window

// Placeholder until the message box lands: the properties and buttons its
// users set, and the chosen flags they watch.
Window {
    id: box

    property string text: ""
    property alias body: message
    property bool showOk: true
    property bool showCancel: false
    property bool okChosen: false
    property bool cancelChosen: false
    property bool button3Chosen: false
    property alias macOkButton: okButton
    property alias winOkButton: okButton
    property alias cancelButton: cancel
    property alias button3: third

    function open() {
        okChosen = false
        cancelChosen = false
        button3Chosen = false
        show()
        raise()
        requestActivate()
    }

    title: "MessageBox"
    modality: Qt.ApplicationModal
    visible: false
    color: "#2A2A2A"
    width: Math.max(300, layout.implicitWidth + 32)
    height: layout.implicitHeight + 32

    ColumnLayout {
        id: layout
        anchors.fill: parent
        anchors.margins: 16
        Text {
            id: message
            text: box.text
            color: "white"
            Layout.minimumWidth: 200
        }
        RowLayout {
            VeltButton { id: third; text: " ? "; visible: false; onClicked: { box.button3Chosen = true; box.close() } }
            Item { Layout.fillWidth: true; Layout.minimumWidth: 16 }
            VeltButton { id: cancel; text: " Cancel "; visible: box.showCancel; onClicked: { box.cancelChosen = true; box.close() } }
            VeltButton { id: okButton; text: "  Ok  "; visible: box.showOk; highlighted: true; onClicked: { box.okChosen = true; box.close() } }
        }
    }
}
