import QtQuick
import QtQuick.Layouts

// A framed panel with its title on the top border. The item given as
// `content` is moved into the panel and fills it with a margin of 8.
Rectangle {
    id: panel

    property Item content: null
    property int column1Width: 110
    property color textColor: "White"
    property color labelBackground: "#1A1A1A"
    property string title: ""

    readonly property int contentMargins: 8

    color: "#801A1A1B"
    border.color: "#505050"
    border.width: 1
    radius: 4

    implicitWidth: (content ? content.implicitWidth : 0) + 2 * contentMargins
    implicitHeight: (content ? content.implicitHeight : 0) + 2 * contentMargins
    Layout.minimumWidth: (content ? content.Layout.minimumWidth : 0) + 2 * contentMargins
    Layout.maximumWidth: (content ? content.Layout.maximumWidth : Number.POSITIVE_INFINITY) + 2 * contentMargins
    Layout.minimumHeight: (content ? content.Layout.minimumHeight : 0) + 2 * contentMargins
    Layout.maximumHeight: (content ? content.Layout.maximumHeight : Number.POSITIVE_INFINITY) + 2 * contentMargins

    Component.onCompleted: {
        if (!content)
            return
        content.parent = panel
        content.anchors.fill = panel
        content.anchors.margins = contentMargins
    }

    Rectangle {
        id: titlePlate
        visible: panel.title !== ""
        z: 1000
        x: titleText.x - 6
        y: titleText.y
        width: titleText.implicitWidth + 12
        height: titleText.implicitHeight
        color: panel.labelBackground
        border.color: "#505050"
        border.width: 1
        radius: 4
    }

    Text {
        id: titleText
        objectName: "panelTitle"
        visible: panel.title !== ""
        z: 1001
        x: 14
        y: -9
        text: panel.title
        font.bold: true
        color: "#AAAAAA"
    }
}
