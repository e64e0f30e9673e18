import QtQuick
import QtQuick.Controls

// A framed live view of a LogModel. Rows are selectable text; a view that
// sits at the bottom when rows arrive stays at the bottom.
ScrollPanel {
    id: panel

    property alias model: logView.model
    // "display" (time stamp and message) or "message" (message alone)
    property string format: "display"
    property alias listView: logView
    property bool stickToBottom: true

    textColor: "grey"

    ListView {
        id: logView
        objectName: "logView"
        clip: true
        boundsBehavior: Flickable.StopAtBounds

        delegate: TextEdit {
            width: ListView.view ? ListView.view.width : 0
            padding: 0
            readOnly: true
            selectByMouse: true
            color: panel.textColor
            font.family: Qt.platform.os === "osx" ? "Menlo" : "Consolas"
            text: panel.format === "message" ? model.message : model.display
            wrapMode: TextEdit.NoWrap
        }

        Connections {
            target: logView.model
            ignoreUnknownSignals: true
            function onRowsAboutToBeInserted() {
                const h = logView.contentHeight
                const position = h > 0 ? logView.contentY / h : 0
                const size = h > 0 ? Math.min(1, logView.height / h) : 1
                panel.stickToBottom = position >= 0.85 * (1.0 - size)
            }
            function onRowsInserted() {
                // The content height is only known after the next layout, so
                // move to the end once the new rows are laid out.
                if (panel.stickToBottom)
                    Qt.callLater(logView.positionViewAtEnd)
            }
        }
    }
}
