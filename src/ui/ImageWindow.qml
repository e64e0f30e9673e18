import QtQuick
import QtQuick.Window

// Placeholder until the camera preview window lands.
Window {
    width: 640
    height: 400
    visible: false
    color: "gray"
}
