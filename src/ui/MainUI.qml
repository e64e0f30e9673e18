import QtQuick
import QtQuick.Controls

Item {
    id: mainUI

    property var simulatedDisplay: null
    property var imageWindow: null
    property var prefs: null

    Rectangle {
        anchors.fill: parent
        color: "#1A1A1A"
    }

    LogPanel {
        id: appLogPanel
        anchors.fill: parent
        model: appLog
    }
}
