import QtQuick
import QtQuick.Window

// Placeholder until the about box lands.
Window {
    width: 500
    height: 350
    visible: false
    function open() { show(); raise(); requestActivate() }
}
