import QtQuick
import QtQuick.Controls

// Status light of a device: green while `status` is empty, red with the
// status as its tooltip otherwise.
Button {
    id: led

    property string status: ""
    property string device: "Device"

    width: 16
    height: 16
    implicitWidth: 16
    implicitHeight: 16
    padding: 0
    hoverEnabled: true
    focusPolicy: Qt.NoFocus
    icon.source: status !== "" ? "icons/IconRedLED.png" : "icons/IconGreenLED.png"

    contentItem: Image {
        source: led.icon.source
        width: 16
        height: 16
        sourceSize.width: 16
        sourceSize.height: 16
        fillMode: Image.PreserveAspectFit
        mipmap: true
    }
    background: null

    onClicked: {
        if (status !== "")
            console.log(device, "error:", status)
    }

    VeltToolTip {
        id: toolTip
        objectName: "ledToolTip"
        isDark: true
        delay: 0
        text: led.status !== "" ? led.status : led.device + " OK"
    }
}
