import QtQuick

// Placeholder until the display panel lands.
BasicPanel {
    property string showLdm: "Images"
    implicitWidth: 400
    implicitHeight: 60
}
