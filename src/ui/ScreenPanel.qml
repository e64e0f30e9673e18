import QtQuick
import QtQuick.Controls
import ImageItem 1.0

// The wall view: the latest photo of the lit wall under the LDM grid (balance)
// or the tile grid (template). A click reads out or chooses a view; a drag
// chooses what is lit or adjusted.
ScrollPanel {
    id: screenPanel

    // What a click or drag does: "dat", "ref", "lit" or "adj".
    property string dragMode: "dat"
    property alias screenView: screenView
    property alias ldmGrid: ldmGrid
    property alias tileGrid: tileGrid
    property alias graphics: graphics
    property alias contextMenu: contextMenu
    // The main view, for its run state and repaint timer; found among the
    // parents when not set.
    property var mainView: null

    readonly property var display: veltranor ? veltranor.display : null
    readonly property int mode: veltranor ? veltranor.mode : 0
    readonly property bool templateMode: mode === 2
    readonly property bool isRunning: mainView && mainView.isRunning !== undefined ? mainView.isRunning
                                                                                   : (veltranor ? veltranor.running : false)
    // The drawing area scrolls: its zoomed size is not the panel's natural
    // size (it would widen the main window with every zoom step, and the
    // fit would chase its own result).
    implicitWidth: 320
    implicitHeight: 200

    readonly property real aspectRatio: ldmGrid.gridHeight > 0 ? ldmGrid.gridWidth / ldmGrid.gridHeight : 2

    // Drag state: the two corners in display pixels and the modifier.
    property point dragStart: Qt.point(0, 0)
    property point dragEnd: Qt.point(0, 0)
    property point anchorPoint: Qt.point(0, 0)
    property string modifier: " "

    function findMainView() {
        for (let p = parent; p; p = p.parent) {
            if (p.dragMode !== undefined && p.isRunning !== undefined)
                return p
        }
        return null
    }

    function startRepaint() {
        if (mainView && mainView.repaintLdms && mainView.repaintLdms.start)
            mainView.repaintLdms.start()
        else
            repaintTimer.start()
    }

    function setDragMode(newMode) {
        dragMode = newMode
    }

    function showLdm(text) {
        if (text === "Images") {
            ldmGrid.showGains = false
            ldmGrid.showErrors = false
        } else if (text === "Gains") {
            ldmGrid.showGains = true
            ldmGrid.showErrors = false
        } else if (text === "Errors") {
            ldmGrid.showGains = false
            ldmGrid.showErrors = true
        }
        ldmGrid.repaintLdms()
    }

    // Set while the wall is fitted to the panel: it then stays fitted when
    // the panel is laid out or resized, until the operator zooms.
    property bool fitted: false

    function zoom(amount) {
        const visibleWidth = width - barSize - 16
        const visibleHeight = height - barSize - 16
        // Hidden (linearity mode) the panel has no size: a fit now would
        // shrink the wall to nothing; it fits once the panel has a size.
        if (visibleWidth <= 0 || visibleHeight <= 0) {
            if (amount === 0)
                fitted = true
            return
        }
        const fitWidth = Math.min(visibleWidth, visibleHeight * aspectRatio)
        let newWidth
        if (amount === 0)
            newWidth = fitWidth
        else
            newWidth = Math.max(fitWidth, Math.min(8000, graphics.width * amount))
        fitted = newWidth === fitWidth
        graphics.width = Math.max(1, newWidth)
    }

    function mapToLdmGrid(x, y) {
        return Qt.point(x / graphics.width * ldmGrid.gridWidth + ldmGrid.gridX,
                        y / graphics.height * ldmGrid.gridHeight + ldmGrid.gridY)
    }

    function mapFromLdmGrid(x, y) {
        return Qt.point(ldmGrid.gridWidth > 0 ? (x - ldmGrid.gridX) * graphics.width / ldmGrid.gridWidth : 0,
                        ldmGrid.gridHeight > 0 ? (y - ldmGrid.gridY) * graphics.height / ldmGrid.gridHeight : 0)
    }

    function lightAll() {
        if (!display)
            return
        if (templateMode) {
            display.selectAllTiles()
            display.lightSelectedTiles()
            display.adjustSelectedTiles()
        } else {
            display.selectAllLdms()
            display.lightSelectedLdms()
            display.adjustSelectedLdms()
        }
        veltranor.resumeStep = 0
        startRepaint()
    }

    function adjustAllLit() {
        if (!display)
            return
        if (templateMode) {
            display.selectAllTiles()
            display.adjustSelectedTiles()
        } else {
            display.selectAllLdms()
            display.adjustSelectedLdms()
        }
        veltranor.resumeStep = 0
    }

    function resetAll() {
        if (!display)
            return
        if (templateMode) {
            display.selectAllTiles()
            display.lightSelectedTiles()
            display.adjustSelectedTiles()
            display.resetMesh()
        }
        display.resetLdms(true, true)
        veltranor.resumeStep = 0
        startRepaint()
    }

    // Stretches the drag rectangle to (x, y) in area coordinates, clamped to
    // the wall, and keeps the corners in whole display pixels.
    function dragTo(x, y) {
        const left = Math.min(anchorPoint.x, x)
        const top = Math.min(anchorPoint.y, y)
        const right = Math.max(anchorPoint.x, x)
        const bottom = Math.max(anchorPoint.y, y)
        const first = mapToLdmGrid(left, top)
        const second = mapToLdmGrid(right, bottom)
        const x1 = Math.round(Math.max(first.x, ldmGrid.gridX))
        const y1 = Math.round(Math.max(first.y, ldmGrid.gridY))
        const x2 = Math.round(Math.min(second.x, ldmGrid.gridX + ldmGrid.gridWidth))
        const y2 = Math.round(Math.min(second.y, ldmGrid.gridY + ldmGrid.gridHeight))
        dragStart = Qt.point(x1, y1)
        dragEnd = Qt.point(x2, y2)
        const topLeft = mapFromLdmGrid(x1, y1)
        const bottomRight = mapFromLdmGrid(x2, y2)
        dragRect.x = topLeft.x
        dragRect.y = topLeft.y
        dragRect.width = Math.max(0, bottomRight.x - topLeft.x)
        dragRect.height = Math.max(0, bottomRight.y - topLeft.y)
        dragText.x = x + 5
        dragText.y = y - dragText.height
    }

    function finishDrag() {
        dragRect.visible = false
        dragText.visible = false
        if (!display)
            return
        if (dragMode === "lit") {
            if (templateMode) {
                display.selectTiles(dragStart, dragEnd)
                display.lightSelectedTiles()
                display.adjustSelectedTiles()
            } else {
                display.selectLdms(dragStart, dragEnd)
                display.lightSelectedLdms()
                display.adjustSelectedLdms()
            }
            veltranor.resumeStep = 0
            startRepaint()
        } else if (dragMode === "adj") {
            const m = modifier === "+" ? 1 : modifier === "-" ? -1 : 0
            if (templateMode) {
                display.selectTiles(dragStart, dragEnd)
                display.adjustSelectedTiles(m)
            } else {
                display.selectLdms(dragStart, dragEnd)
                display.adjustSelectedLdms(m)
            }
            veltranor.resumeStep = 0
        }
    }

    onAspectRatioChanged: zoom(0)
    onWidthChanged: if (fitted) zoom(0)
    onHeightChanged: if (fitted) zoom(0)
    Component.onCompleted: {
        if (!mainView)
            mainView = findMainView()
    }

    // Stand-in for the main view's repaint timer when there is none.
    Timer {
        id: repaintTimer
        interval: 200
        onTriggered: if (screenPanel.display && screenPanel.mode !== 0) screenPanel.display.ldmData = 1
    }

    Connections {
        target: screenPanel.display
        function onMinLitLdmXChanged() { screenView.clear() }
        function onMaxLitLdmXChanged() { screenView.clear() }
        function onMinLitLdmYChanged() { screenView.clear() }
        function onMaxLitLdmYChanged() { screenView.clear() }
    }

    Item {
        id: scrollArea
        // Centred while smaller than the view; scrolled when larger.
        implicitWidth: graphics.width
        implicitHeight: graphics.height
        x: Math.max(0, (screenPanel.scrollView.width - screenPanel.barSize - graphics.width) / 2)
        y: Math.max(0, (screenPanel.scrollView.height - screenPanel.barSize - graphics.height) / 2)

        Rectangle {
            id: graphics
            objectName: "wallArea"
            width: 1600
            height: width / screenPanel.aspectRatio
            color: "black"
            border.color: "gray"
            border.width: 2

            ImageItem {
                id: screenView
                objectName: "screenView"
                readonly property var d: screenPanel.display
                // Without lit LDMs the extents are meaningless.
                visible: d ? d.litLdmCount > 0 : false
                x: d && ldmGrid.gridWidth > 0 ? (d.minLitLdmX - ldmGrid.gridX) * graphics.width / ldmGrid.gridWidth : 0
                y: d && ldmGrid.gridHeight > 0 ? (d.minLitLdmY - ldmGrid.gridY) * graphics.height / ldmGrid.gridHeight : 0
                width: d && ldmGrid.gridWidth > 0 ? (d.maxLitLdmX - d.minLitLdmX) * graphics.width / ldmGrid.gridWidth : 0
                height: d && ldmGrid.gridHeight > 0 ? (d.maxLitLdmY - d.minLitLdmY) * graphics.height / ldmGrid.gridHeight : 0
            }

            LdmGrid {
                id: ldmGrid
                objectName: "ldmGrid"
                visible: screenPanel.mode === 1
                showOutline: true
                selectionMode: screenPanel.dragMode
                onViewClicked: screenPanel.forceActiveFocus()
            }

            LdmGrid {
                id: tileGrid
                objectName: "tileGrid"
                isTiles: true
                visible: screenPanel.mode === 2
                showOutline: true
                selectionMode: screenPanel.dragMode
                onViewClicked: screenPanel.forceActiveFocus()
            }

            Rectangle {
                id: dragRect
                objectName: "dragRect"
                visible: false
                color: screenPanel.dragMode === "lit" ? "#80FFFFFF" : "transparent"
                border.width: screenPanel.dragMode === "adj" ? 1 : 0
                border.color: "white"
            }

            Item {
                id: dragText
                objectName: "dragText"
                visible: false
                width: dragLabel.implicitWidth + 2
                height: dragLabel.implicitHeight + 2
                readonly property string label: (screenPanel.dragMode === "lit" ? "Light" : "Adjust")
                                                + " " + screenPanel.modifier
                Text {
                    x: 2
                    y: 2
                    text: dragText.label
                    color: "black"
                }
                Text {
                    id: dragLabel
                    text: dragText.label
                    color: "white"
                }
            }

            MouseArea {
                id: dragArea
                objectName: "dragArea"
                anchors.fill: parent
                enabled: !screenPanel.isRunning && (screenPanel.mode === 1 || screenPanel.mode === 2)
                preventStealing: true
                acceptedButtons: (screenPanel.dragMode === "ref" || screenPanel.dragMode === "dat")
                                 ? Qt.RightButton : (Qt.LeftButton | Qt.RightButton)

                onPressed: function(mouse) {
                    if (mouse.button === Qt.RightButton) {
                        mouse.accepted = true
                        dragRect.visible = false
                        dragText.visible = false
                        contextMenu.popup()
                        return
                    }
                    const adj = screenPanel.dragMode === "adj"
                    screenPanel.modifier = !adj ? " "
                                         : (mouse.modifiers & Qt.ShiftModifier) ? "+"
                                         : (mouse.modifiers & Qt.AltModifier) ? "-" : " "
                    screenPanel.anchorPoint = Qt.point(mouse.x, mouse.y)
                    const shown = screenPanel.dragMode === "lit" || adj
                    screenPanel.dragTo(mouse.x, mouse.y)
                    dragRect.visible = shown
                    dragText.visible = shown
                }
                onPositionChanged: function(mouse) {
                    if (pressedButtons & Qt.LeftButton)
                        screenPanel.dragTo(mouse.x, mouse.y)
                }
                onReleased: function(mouse) {
                    if (mouse.button === Qt.LeftButton)
                        screenPanel.finishDrag()
                }
            }
        }
    }

    Menu {
        id: contextMenu
        objectName: "wallMenu"

        VeltMenuItem {
            text: screenPanel.templateMode ? qsTr("&Light All Tiles") : qsTr("&Light All LDMs")
            onTriggered: screenPanel.lightAll()
        }
        VeltMenuItem {
            text: screenPanel.templateMode ? qsTr("&Adjust All Lit Tiles") : qsTr("&Adjust All Lit LDMs")
            onTriggered: screenPanel.adjustAllLit()
        }
        MenuSeparator {}
        VeltMenuItem {
            text: screenPanel.templateMode ? qsTr("&Reset All Tiles") : qsTr("&Reset All LDMs")
            onTriggered: screenPanel.resetAll()
        }
        MenuSeparator {}
        VeltMenuItem {
            text: qsTr("Uniformity Test Pattern")
            onTriggered: if (screenPanel.templateMode) veltranor.setMeshTestPattern()
        }
    }
}
