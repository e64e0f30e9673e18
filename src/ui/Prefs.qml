import QtQuick
import QtQuick.Controls

// Placeholder until the preferences window lands.
ApplicationWindow {
    property Item parentItem: null
    property Item editItem: null
    width: 400
    height: 300
    visible: false
}
