import QtQuick
import QtQuick.Controls

// A live view of a LogModel. A view that sits at the bottom when rows arrive
// stays at the bottom.
ListView {
    id: logView

    // "display" (time stamp and message) or "message" (message alone)
    property string format: "display"
    property bool stickToBottom: true

    clip: true
    boundsBehavior: Flickable.StopAtBounds

    ScrollBar.vertical: ScrollBar {
        id: verticalBar
        policy: ScrollBar.AsNeeded
    }

    delegate: Text {
        width: ListView.view ? ListView.view.width : 0
        padding: 0
        color: "white"
        font.family: Qt.platform.os === "osx" ? "Menlo" : "Consolas"
        text: logView.format === "message" ? model.message : model.display
        wrapMode: Text.NoWrap
        elide: Text.ElideNone
    }

    Connections {
        target: logView.model
        ignoreUnknownSignals: true
        function onRowsAboutToBeInserted() {
            logView.stickToBottom = verticalBar.position >= 0.85 * (1.0 - verticalBar.size)
        }
        function onRowsInserted() {
            // The content height is only known after the next layout, so move
            // to the end once the new rows are laid out.
            if (logView.stickToBottom)
                Qt.callLater(logView.positionViewAtEnd)
        }
    }
}
