import QtQuick
import QtQuick.Window

// Version, rights and the licences of the frameworks the program uses.
Window {
    id: box

    property string appName: "VANTOR Veltrano ®"
    // The view the box opens centred over.
    property var parentItem: null
    readonly property int boxWidth: Qt.platform.os === "osx" ? 550 : 500

    title: qsTr("About %1").arg(appName)
    visible: false
    color: "#2A2A2A"
    flags: Qt.Dialog | Qt.CustomizeWindowHint | Qt.WindowTitleHint | Qt.WindowCloseButtonHint
    width: boxWidth
    height: 350
    minimumWidth: boxWidth
    maximumWidth: boxWidth
    minimumHeight: 350
    maximumHeight: 350

    // Over the main view, like the preferences: without a window manager a
    // window that places nothing itself opens at 0,0, over the menu titles.
    function centre() {
        if (!parentItem)
            return
        const origin = parentItem.mapToGlobal(0, 0)
        x = origin.x + (parentItem.width - width) / 2
        y = origin.y + (parentItem.height - height) / 2
    }

    function open() {
        centre()
        show()
        raise()
        requestActivate()
    }

    // Without a window manager the box has no close button of its own.
    Shortcut {
        sequence: "Escape"
        enabled: box.visible
        onActivated: box.close()
    }

    Text {
        objectName: "aboutText"
        anchors.fill: parent
        anchors.margins: 16
        color: "white"
        linkColor: "#69c4f8"
        wrapMode: Text.WordWrap
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        textFormat: Text.RichText
        font.pixelSize: 11
        onLinkActivated: function(link) { Qt.openUrlExternally(link) }
        // Rich text takes its link colour from a style sheet, not linkColor.
        text: "<style>a { color: #69c4f8; }</style>"
              + "<b>" + box.appName + "</b> " + (typeof veltranoVersion !== "undefined" ? veltranoVersion : "")
              + "<br>Copyright © Tessaline. All rights reserved.<br><br>"
              + box.appName + " is built using Qt version " + (typeof qtVersion !== "undefined" ? qtVersion : "")
              + "<br>The Qt framework is licensed under the GNU LGPLv3: see "
              + "<a href=\"https://www.qt.io/\">qt.io</a>, "
              + "<a href=\"https://www.gnu.org/licenses/lgpl-3.0.html\">the licence</a> and "
              + "<a href=\"https://download.qt.io/archive/qt/\">the Qt source archive</a>. "
              + "For a source request write to <a href=\"mailto:source@tessaline.com\">source@tessaline.com</a>."
              + "<br>Qt is Copyright © The Qt Company Ltd. and other contributors.<br><br>"
              + "This program uses OpenCV under the Apache 2.0 licence: "
              + "<a href=\"https://opencv.org/\">opencv.org</a>, "
              + "<a href=\"https://www.apache.org/licenses/LICENSE-2.0\">the licence</a>.<br><br>"
              + "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND,<br>"
              + "EXPRESS OR IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES<br>"
              + "OF MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND<br>"
              + "NONINFRINGEMENT. IN NO EVENT SHALL THE AUTHORS BE LIABLE FOR ANY<br>"
              + "CLAIM, DAMAGES OR OTHER LIABILITY ARISING FROM THE USE OF THE SOFTWARE."
    }
}
