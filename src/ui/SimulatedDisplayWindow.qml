import QtQuick
import QtQuick.Window

// Placeholder until the simulated display window lands.
Window {
    width: 640
    height: 480
    visible: false
    color: "black"
}
