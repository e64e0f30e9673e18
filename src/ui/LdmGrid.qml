import QtQuick

// One view per LDM (Ldm) or per tile (Tile) of the active display, laid over
// its parent by the display's LDM extents. A grid that shows colours is the
// simulated wall: its views also produce the dummy camera's observations.
Item {
    id: grid

    property bool isTiles: false
    property var display: veltranor ? veltranor.display : null
    readonly property real gridX: display ? display.minX : 0
    readonly property real gridY: display ? display.minY : 0
    readonly property real gridWidth: display ? display.maxX - display.minX : 0
    readonly property real gridHeight: display ? display.maxY - display.minY : 0
    readonly property int count: display ? (isTiles ? display.tileCount : display.ldmCount) : 0
    property bool showColor: false
    property bool showOutline: false
    property bool showGains: false
    property bool showErrors: false
    // The target LDM; views draw it green.
    readonly property int pressed: veltranor ? veltranor.selectedLdm : 0
    property string selectionMode: "dat"
    property var viewList: []

    // A view was chosen by a click: the wall view takes the focus.
    signal viewClicked(int number)

    property bool countWasChanged: false

    anchors.fill: parent

    function createLdm(parentItem, number) {
        const component = isTiles ? tileComponent : ldmComponent
        const view = component.createObject(parentItem, { number: number, grid: grid })
        if (!view)
            console.log("Error creating ldm", number)
        return view
    }

    function deleteLdms() {
        const old = viewList
        viewList = []
        for (let i = old.length - 1; i >= 0; --i)
            old[i].enabled = false
        for (let i = old.length - 1; i >= 0; --i)
            old[i].destroy()
    }

    function resetLdms() {
        deleteLdms()
        if (!parent || !parent.enabled)
            return
        const created = []
        for (let n = 1; n <= count; ++n) {
            const view = createLdm(grid, n)
            if (view)
                created.push(view)
        }
        viewList = created
    }

    function repaintLdms() {
        for (let i = viewList.length - 1; i >= 0; --i)
            viewList[i].update()
    }

    // Fake camera: the simulated wall's own colours, read in the emission.
    function setRGBObserved() {
        if (isTiles || !showColor)
            return
        for (let i = 0; i < viewList.length; ++i)
            viewList[i].setRGBObserved()
    }

    Component.onCompleted: resetLdms()
    onCountChanged: {
        countWasChanged = true
        resetLdms()
    }
    onPressedChanged: repaintLdms()
    onShowColorChanged: repaintLdms()

    Connections {
        target: grid.display
        function onRefreshChanged() {
            if (grid.countWasChanged)
                grid.countWasChanged = false
            else
                grid.resetLdms()
        }
        function onLdmDataChanged() { grid.repaintLdms() }
        function onTileDataChanged() { if (grid.isTiles) grid.repaintLdms() }
        function onNeedFakeLdmRGBsChanged() { grid.setRGBObserved() }
    }

    Component {
        id: ldmComponent
        Ldm {}
    }

    Component {
        id: tileComponent
        Tile {}
    }
}
