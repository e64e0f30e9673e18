import QtQuick
import ImageItem 1.0

// Placeholder until the wall view lands.
Item {
    property string title: ""
    property string dragMode: "dat"
    property alias screenView: photo

    function zoom(amount) {}
    function showLdm(text) {}
    function setDragMode(mode) { dragMode = mode }

    implicitWidth: 400
    implicitHeight: 200

    ImageItem {
        id: photo
        anchors.fill: parent
    }
}
