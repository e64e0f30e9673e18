import QtQuick

// Placeholder until the colour-meter panel lands.
BasicPanel {
    implicitWidth: 400
    implicitHeight: 60
}
