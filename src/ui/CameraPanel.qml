import QtQuick

// Placeholder until the camera panel lands.
BasicPanel {
    implicitWidth: 400
    implicitHeight: 40
}
