import QtQuick

// Placeholder until the output sliders land.
BasicPanel {
    implicitWidth: 120
    implicitHeight: 200
}
