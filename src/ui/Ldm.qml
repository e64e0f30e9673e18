import QtQuick
import QtQuick.Controls

// One LDM of the wall: its state, gains, errors or observed colour.
Button {
    id: view

    property int number: 0
    property var grid: null
    readonly property var wallDisplay: grid ? grid.display : null

    // The LDM's rectangle in wallDisplay pixels.
    property real ldmLeft: 0
    property real ldmTop: 0
    property real ldmWide: 0
    property real ldmHigh: 0

    property real rGain: 0
    property real gGain: 0
    property real bGain: 0
    property real iGain: 1
    property bool isLit: false
    property bool adjustable: false
    property real rErr: 0
    property real gErr: 0
    property real bErr: 0

    readonly property real variation: veltranor ? veltranor.fakeLdmVariation : 0
    property real rVar: 1
    property real gVar: 1
    property real bVar: 1

    readonly property bool dummyCamera: veltranor && veltranor.imageSource ? veltranor.imageSource.isDummy : true
    readonly property bool chosen: veltranor ? veltranor.selectedLdm === number : false

    objectName: "ldm" + number
    x: grid && grid.gridWidth > 0 ? (ldmLeft - grid.gridX) * grid.width / grid.gridWidth : 0
    y: grid && grid.gridHeight > 0 ? (ldmTop - grid.gridY) * grid.height / grid.gridHeight : 0
    width: grid && grid.gridWidth > 0 ? ldmWide * grid.width / grid.gridWidth : 0
    height: grid && grid.gridHeight > 0 ? ldmHigh * grid.height / grid.gridHeight : 0
    padding: 0
    focusPolicy: Qt.NoFocus
    hoverEnabled: false

    function drawVariation() {
        const v = variation
        rVar = Math.random() * v + 1 - v / 2
        gVar = Math.random() * v + 1 - v / 2
        bVar = Math.random() * v + 1 - v / 2
    }

    function channel(v) {
        return Math.min(1, Math.max(0, v))
    }

    function update() {
        if (!enabled || !wallDisplay || !grid)
            return
        ldmLeft = wallDisplay.ldmX(number)
        ldmTop = wallDisplay.ldmY(number)
        ldmWide = wallDisplay.ldmWidth(number)
        ldmHigh = wallDisplay.ldmHeight(number)
        rGain = wallDisplay.ldmRedGain(number)
        gGain = wallDisplay.ldmGreenGain(number)
        bGain = wallDisplay.ldmBlueGain(number)
        iGain = wallDisplay.ldmIntensityGain(number) + 1
        isLit = wallDisplay.ldmIsLit(number)
        adjustable = wallDisplay.ldmAdjustable(number)

        if (grid.showGains) {
            fill.color = isLit ? Qt.rgba(channel(0.6275 + rGain * 25), channel(0.6275 + gGain * 25),
                                         channel(0.6275 + bGain * 25), 1)
                               : "#333333"
            inset.visible = false
        } else if (grid.showErrors) {
            if (isLit) {
                rErr = veltranor.ldmRedError(number)
                gErr = veltranor.ldmGreenError(number)
                bErr = veltranor.ldmBlueError(number)
                fill.color = Qt.rgba(channel(0.6 + rErr * 5), channel(0.6 + gErr * 5), channel(0.6 + bErr * 5), 1)
            } else {
                rErr = 0
                gErr = 0
                bErr = 0
                fill.color = "#333333"
            }
            inset.visible = false
        } else if (grid.showColor) {
            fill.color = Qt.rgba(channel(0.75 * iGain * (rGain + 1) * rVar),
                                 channel(0.75 * iGain * (gGain + 1) * gVar),
                                 channel(0.75 * iGain * (bGain + 1) * bVar), 1)
            inset.visible = false
        } else {
            fill.color = "transparent"
            inset.visible = iGain !== 0
            inset.color = Qt.rgba(channel(wallDisplay.ldmRedObserved(number) / 255),
                                  channel(wallDisplay.ldmGreenObserved(number) / 255),
                                  channel(wallDisplay.ldmBlueObserved(number) / 255), 1)
        }
    }

    // Stores what the dummy camera sees of this LDM: the painted colour at
    // 0.745 of full scale, without the intensity gain. The gains are read
    // afresh, so a change not yet painted still counts.
    function setRGBObserved() {
        if (!enabled || !wallDisplay || !grid || !grid.showColor)
            return
        const scale = 255 * 0.745
        wallDisplay.setLdmRGBObserved(number,
                                  Math.round(scale * (wallDisplay.ldmRedGain(number) + 1) * rVar),
                                  Math.round(scale * (wallDisplay.ldmGreenGain(number) + 1) * gVar),
                                  Math.round(scale * (wallDisplay.ldmBlueGain(number) + 1) * bVar))
    }

    onVariationChanged: {
        drawVariation()
        update()
    }

    Component.onCompleted: {
        drawVariation()
        update()
    }

    onClicked: {
        if (!grid)
            return
        if (grid.selectionMode === "dat")
            veltranor.displayLdm(number)
        else if (isLit)
            veltranor.chooseTargetLdm(number)
        grid.repaintLdms()
        grid.viewClicked(number)
    }

    contentItem: Item {}

    background: Rectangle {
        id: fill
        objectName: "ldmFill"
        color: "transparent"
        border.width: view.grid && view.grid.showOutline ? 1 : 0
        border.color: view.down ? "red"
                    : view.chosen ? "green"
                    : !view.isLit ? "#333333"
                    : view.adjustable ? "#DDDDDD" : "#808080"

        Rectangle {
            id: inset
            objectName: "ldmInset"
            visible: false
            x: view.dummyCamera ? 1 : 2 + width / 2
            y: view.dummyCamera ? 1 : 1 + height / 2
            width: view.dummyCamera ? view.width - 2 : view.width / 2 - 2
            height: view.dummyCamera ? view.height - 2 : view.height / 2 - 2
        }
    }
}
