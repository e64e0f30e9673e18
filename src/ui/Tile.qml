import QtQuick
import QtQuick.Controls

// One receiver tile of the wall: its outline shows whether it is lit and
// adjusted.
Button {
    id: view

    property int number: 0
    property var grid: null
    readonly property var wallDisplay: grid ? grid.display : null

    property real tileLeft: 0
    property real tileTop: 0
    property real tileWide: 0
    property real tileHigh: 0
    property bool adjustable: false
    property bool lit: false

    objectName: "tile" + number
    x: grid && grid.gridWidth > 0 ? (tileLeft - grid.gridX) * grid.width / grid.gridWidth : 0
    y: grid && grid.gridHeight > 0 ? (tileTop - grid.gridY) * grid.height / grid.gridHeight : 0
    width: grid && grid.gridWidth > 0 ? tileWide * grid.width / grid.gridWidth : 0
    height: grid && grid.gridHeight > 0 ? tileHigh * grid.height / grid.gridHeight : 0
    padding: 0
    focusPolicy: Qt.NoFocus
    hoverEnabled: false

    function update() {
        if (!enabled || !wallDisplay)
            return
        tileLeft = wallDisplay.tileX(number)
        tileTop = wallDisplay.tileY(number)
        tileWide = wallDisplay.tileWidth(number)
        tileHigh = wallDisplay.tileHeight(number)
        adjustable = wallDisplay.tileAdjustable(number)
        lit = wallDisplay.tileLit(number)
    }

    // Tiles are never observed one by one.
    function setRGBObserved() {}

    Component.onCompleted: update()

    onClicked: {
        if (!grid)
            return
        if (grid.selectionMode === "dat")
            veltranor.displayTile(number)
        else if (lit)
            veltranor.chooseTargetTile(number)
        grid.repaintLdms()
        grid.viewClicked(number)
    }

    contentItem: Item {}

    background: Rectangle {
        objectName: "tileFill"
        color: "transparent"
        border.width: 1
        border.color: view.down ? "red"
                    : !view.lit ? "#222222"
                    : view.adjustable ? "#DDDDDD" : "#808080"
    }
}
