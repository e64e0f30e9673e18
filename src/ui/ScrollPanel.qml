import QtQuick
import QtQuick.Controls

// A BasicPanel whose content scrolls. Children become the scroll view's
// content; a bar appears only while the content overflows in its direction.
BasicPanel {
    id: panel

    property alias scrollView: scrollView
    property alias barSize: scrollView.barSize
    default property alias scrollContent: scrollView.contentData

    readonly property bool verticalBarShown: scrollView.contentHeight > scrollView.verticalBarLength + barSize
    readonly property bool horizontalBarShown: scrollView.contentWidth > scrollView.horizontalBarLength + barSize

    content: ScrollView {
        id: scrollView

        property int barSize: 10
        readonly property real verticalBarLength: availableHeight - barSize
        readonly property real horizontalBarLength: availableWidth - barSize

        clip: true
        palette.base: "#2A2A2A"
        palette.text: "white"
        palette.windowText: "white"

        ScrollBar.vertical: ScrollBar {
            id: verticalBar
            objectName: "verticalBar"
            parent: scrollView
            orientation: Qt.Vertical
            x: scrollView.mirrored ? 0 : scrollView.width - width
            y: scrollView.topPadding
            height: scrollView.verticalBarLength
            width: scrollView.barSize
            padding: 0
            policy: panel.verticalBarShown ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
            opacity: panel.verticalBarShown ? 1 : 0
            Behavior on opacity { NumberAnimation {} }
            contentItem: Rectangle {
                implicitWidth: scrollView.barSize
                implicitHeight: scrollView.barSize
                radius: scrollView.barSize / 3
                color: "lightgray"
                opacity: panel.verticalBarShown ? 1 : 0
                Behavior on opacity { NumberAnimation {} }
            }
            background: Rectangle {
                color: "#444444"
            }
        }

        ScrollBar.horizontal: ScrollBar {
            id: horizontalBar
            objectName: "horizontalBar"
            parent: scrollView
            orientation: Qt.Horizontal
            x: scrollView.leftPadding
            y: scrollView.height - height
            width: scrollView.horizontalBarLength
            height: scrollView.barSize
            padding: 0
            policy: panel.horizontalBarShown ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
            opacity: panel.horizontalBarShown ? 1 : 0
            Behavior on opacity { NumberAnimation {} }
            contentItem: Rectangle {
                implicitWidth: scrollView.barSize
                implicitHeight: scrollView.barSize
                radius: scrollView.barSize / 3
                color: "lightgray"
                opacity: panel.horizontalBarShown ? 1 : 0
                Behavior on opacity { NumberAnimation {} }
            }
            background: Rectangle {
                color: "#444444"
            }
        }

        background: Item {
            FocusRect {
                focused: scrollView.activeFocus
                isDark: true
                width: panel.width - 10
                height: panel.height - 10
            }
            Rectangle {
                objectName: "cornerSquare"
                visible: panel.verticalBarShown || panel.horizontalBarShown
                color: "black"
                width: scrollView.barSize - 2
                height: scrollView.barSize - 2
                x: scrollView.mirrored ? 1 : parent.width - scrollView.barSize + 1
                y: parent.height - scrollView.barSize + 1
            }
        }
    }
}
