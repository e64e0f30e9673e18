import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A framed live view of a LogModel. Rows are selectable text; a view that
// sits at the bottom when rows arrive stays at the bottom. Its scroll bar
// does not fade: an animation started while the program quits outlives
// Qt's animation timer when a second application object follows in the
// same process (the start-up tests run the program twice).
BasicPanel {
    id: panel

    property alias model: logView.model
    // "display" (time stamp and message) or "message" (message alone)
    property string format: "display"
    property alias listView: logView
    // The list's scroll state, for callers that scroll it.
    property alias contentY: logView.contentY
    readonly property alias contentHeight: logView.contentHeight
    readonly property alias atYEnd: logView.atYEnd
    property bool stickToBottom: true
    // The rows the panel keeps in view at its smallest.
    property int minimumRows: 0

    textColor: "grey"
    Layout.minimumHeight: minimumRows * Math.ceil(rowMetrics.height) + 2 * contentMargins

    FontMetrics {
        id: rowMetrics
        font.family: Qt.platform.os === "osx" ? "Menlo" : "Consolas"
    }

    content: ListView {
        id: logView
        objectName: "logView"
        clip: true
        boundsBehavior: Flickable.StopAtBounds

        ScrollBar.vertical: ScrollBar {
            policy: ScrollBar.AsNeeded
            width: 10
            contentItem: Rectangle {
                implicitWidth: 10
                radius: 3
                color: "lightgray"
            }
            background: Rectangle { color: "#444444" }
        }

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
