import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qt.labs.settings

// The active display: its state and address, the balance target, the show
// and selection modes of the wall view, and the colour read-outs.
BasicPanel {
    id: panel

    property var mainView: null
    property string showLdm: ""
    // Used while there is no main view to hold the drag mode.
    property string dragMode: "dat"
    property string targetText: "   Target RGB not set   "

    readonly property var display: veltranor ? veltranor.display : null
    readonly property int mode: veltranor ? veltranor.mode : 0
    readonly property bool linearityMode: mode === 0
    readonly property bool balanceMode: mode === 1
    readonly property bool simulated: veltranor ? veltranor.outputType === 1 : false
    readonly property string mpelType: balanceMode ? "LDM" : "Tile"
    readonly property bool isRunning: mainView && mainView.isRunning !== undefined ? mainView.isRunning
                                                                                   : (veltranor ? veltranor.running : false)
    readonly property string currentDragMode: mainView && mainView.dragMode !== undefined ? mainView.dragMode : dragMode
    readonly property real maxRGB: mainView && mainView.maxRGB !== undefined ? mainView.maxRGB : 1.0
    readonly property string processorHint: "IP address like 192.168.0.42 or mDNS hostname like vantor-processor.local"

    title: qsTr("VANTOR Controls")

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

    function setDragMode(value) {
        if (mainView && mainView.dragMode !== undefined)
            mainView.dragMode = value
        else
            dragMode = value
    }

    function updateTargetText() {
        const r = veltranor.balanceTargetRed.toFixed(2)
        const g = veltranor.balanceTargetGreen.toFixed(2)
        const b = veltranor.balanceTargetBlue.toFixed(2)
        if (r === "0.00" && g === "0.00" && b === "0.00") {
            targetText = "   Target RGB not set   "
            return
        }
        let t = "   Target RGB: <b>" + r + ", " + g + ", " + b + "</b>"
        if (veltranor.targetTime !== "")
            t += ", set <b>" + veltranor.targetTime + "</b>"
        targetText = t + "   "
    }

    function clearTarget() {
        veltranor.selectedLdm = 0
        veltranor.balanceTargetRed = 0.0
        veltranor.balanceTargetGreen = 0.0
        veltranor.balanceTargetBlue = 0.0
        veltranor.targetTime = ""
        veltranor.statusString = "Target RGB values cleared"
    }

    function toggleVariation() {
        veltranor.fakeLdmVariation = veltranor.fakeLdmVariation === 0.0 ? 0.3 : 0
        console.log("Fake LDM variation set to", (veltranor.fakeLdmVariation * 100).toPrecision(2) + "%")
        startRepaint()
    }

    function resetSimulated() {
        if (!display || veltranor.outputType !== 1 || isRunning || !linearityMode)
            return
        display.setDisplayGainRGB(1.0, 1.0, 1.0)
        display.setRGB(0, 1.0, 1.0, 1.0)
    }

    Component.onCompleted: {
        if (!mainView)
            mainView = findMainView()
        updateTargetText()
    }

    Settings {
        category: "MainWindow"
        property alias showLdm: panel.showLdm
    }

    Timer {
        id: repaintTimer
        interval: 200
        onTriggered: if (panel.display && !panel.linearityMode) panel.display.ldmData = 1
    }

    Connections {
        target: veltranor
        function onBalanceTargetRedChanged() { panel.updateTargetText() }
        function onBalanceTargetGreenChanged() { panel.updateTargetText() }
        function onBalanceTargetBlueChanged() { panel.updateTargetText() }
        function onTargetTimeChanged() { panel.updateTargetText() }
    }

    MouseArea {
        anchors.fill: parent
        z: -1
        acceptedButtons: Qt.RightButton
        enabled: panel.linearityMode && panel.simulated && !panel.isRunning
        onPressed: simulatedMenu.popup()
    }

    Menu {
        id: simulatedMenu
        VeltMenuItem {
            text: "Reset simulated VANTOR"
            enabled: veltranor ? veltranor.outputType === 1 : false
            onTriggered: panel.resetSimulated()
        }
    }

    content: RowLayout {
        spacing: 0

        Rectangle {
            color: "black"
            Layout.fillWidth: true
            implicitWidth: leftColumn.implicitWidth
            implicitHeight: leftColumn.implicitHeight

            ColumnLayout {
                id: leftColumn
                anchors.fill: parent
                spacing: 6

                RowLayout {
                    VeltLED {
                        id: outputLed
                        device: "Output"
                        status: ""
                    }
                    Text {
                        id: outputLabel
                        text: "<b>Output</b>:"
                        color: "white"
                        horizontalAlignment: Text.AlignRight
                        Layout.preferredWidth: panel.linearityMode ? panel.column1Width - outputLed.width - 4
                                                                   : implicitWidth
                    }
                    Text {
                        objectName: "displayName"
                        text: panel.display ? panel.display.name : ""
                        color: "white"
                        Layout.fillWidth: panel.linearityMode
                        Layout.rightMargin: 8
                    }
                    Text {
                        visible: !panel.linearityMode && !panel.simulated
                        text: "Address:"
                        color: "white"
                    }
                    VeltTextField {
                        objectName: "displayAddress"
                        visible: !panel.linearityMode && !panel.simulated
                        Layout.fillWidth: true
                        Layout.maximumWidth: 200
                        enabled: !panel.isRunning
                        color: "white"
                        Binding on target { value: panel.display ? panel.display.address : "" }
                        onTargetChanged: if (panel.display && target !== panel.display.address) panel.display.address = target
                        VeltToolTip { isDark: true; text: panel.processorHint }
                    }
                    Item { Layout.fillWidth: true; visible: !panel.linearityMode }
                    Text {
                        objectName: "targetText"
                        visible: !panel.linearityMode
                        text: panel.targetText
                        textFormat: Text.StyledText
                        horizontalAlignment: Text.AlignHCenter
                        color: "white"
                    }
                    VeltButton {
                        text: "Clear"
                        isDark: true
                        visible: !panel.linearityMode && veltranor.targetTime !== ""
                        enabled: !panel.isRunning
                        Layout.leftMargin: 4
                        Layout.rightMargin: 12
                        onClicked: panel.clearTarget()
                        VeltToolTip { isDark: true; text: "Clear target RGB values" }
                    }
                    Item { Layout.fillWidth: true; visible: panel.balanceMode }
                    Text {
                        visible: panel.balanceMode
                        text: "Show " + panel.mpelType + ":"
                        color: "white"
                    }
                    Repeater {
                        model: panel.balanceMode ? ["Images", "Gains", "Errors"] : []
                        delegate: DarkRadioButton {
                            required property string modelData
                            text: modelData
                            // Nothing stored yet: the wall shows images.
                            checked: panel.showLdm === modelData || (panel.showLdm === "" && modelData === "Images")
                            enabled: modelData !== "Errors" || veltranor.balanceTargetRed !== 0
                            onClicked: panel.showLdm = modelData
                            VeltToolTip {
                                isDark: true
                                text: modelData === "Images"
                                      ? (veltranor.imageSource && veltranor.imageSource.isDummy
                                         ? "Show " + panel.mpelType + " measured values"
                                         : "Show " + panel.mpelType + " images and measured values")
                                      : modelData === "Gains"
                                        ? "Show false-color gain values, like VANTOR’s Adjustments display"
                                        : "Show " + panel.mpelType + " RGB errors (exaggerated; much worse than visible errors)"
                            }
                        }
                    }
                }

                RowLayout {
                    visible: panel.linearityMode && !panel.simulated
                    Text {
                        text: "Address:"
                        color: "white"
                        horizontalAlignment: Text.AlignRight
                        Layout.preferredWidth: panel.column1Width
                    }
                    VeltTextField {
                        objectName: "vantorAddress"
                        Layout.fillWidth: true
                        Layout.minimumWidth: 110
                        Layout.maximumWidth: 200
                        enabled: !panel.isRunning
                        color: "white"
                        Binding on target { value: veltranor.vantor ? veltranor.vantor.address : "" }
                        onTargetChanged: if (veltranor.vantor && target !== veltranor.vantor.address) veltranor.vantor.address = target
                        VeltToolTip { isDark: true; text: panel.processorHint }
                    }
                }

                RowLayout {
                    visible: !panel.linearityMode
                    Text {
                        text: "<b>" + panel.mpelType + "s</b>:"
                        color: "white"
                        Layout.preferredWidth: outputLabel.width + outputLed.width + 4
                    }
                    Item { Layout.minimumWidth: 8; Layout.fillWidth: true }
                    Text { text: "Selection mode:"; color: "white" }
                    Repeater {
                        model: [
                            { text: "Set target RGB", value: "ref",
                              tip: "Select " + panel.mpelType + " to use its RGB values as the uniformity target values" },
                            { text: "Set " + panel.mpelType + "s to light", value: "lit",
                              tip: "Select " + panel.mpelType + "s to illuminate" },
                            { text: "Set " + panel.mpelType + "s to adjust", value: "adj",
                              tip: "Select " + panel.mpelType + "s to adjust" },
                            { text: "Get " + panel.mpelType + " data", value: "dat",
                              tip: "Select " + panel.mpelType + " to display its data and track it in the Log Messages" }
                        ]
                        delegate: DarkRadioButton {
                            required property var modelData
                            text: modelData.text
                            checked: panel.currentDragMode === modelData.value
                            enabled: modelData.value === "dat" || !panel.isRunning
                            onClicked: panel.setDragMode(modelData.value)
                            VeltToolTip { isDark: true; text: modelData.tip }
                        }
                    }
                    Item { Layout.minimumWidth: 8; Layout.fillWidth: true }
                    CheckBox {
                        id: meshBox
                        text: "High Resolution Uniformity"
                        visible: panel.display ? panel.display.supportsMeshUniformity : false
                        enabled: !panel.isRunning
                        checked: panel.mode === 2
                        onClicked: veltranor.mode = panel.mode === 1 ? 2 : 1
                        contentItem: Text {
                            leftPadding: meshBox.indicator.width + meshBox.spacing
                            text: meshBox.text
                            color: "white"
                            verticalAlignment: Text.AlignVCenter
                        }
                        indicator.opacity: enabled ? 1.0 : 0.7
                        VeltToolTip { isDark: true; text: "Use high resolution uniformity" }
                    }
                    VeltButton {
                        text: "Refresh"
                        icon.source: "icons/IconRefresh.png"
                        isDark: true
                        enabled: !panel.isRunning
                        onClicked: {
                            veltranor.fetchLdms()
                            panel.startRepaint()
                        }
                        VeltToolTip { isDark: true; text: "Reload VANTOR data" }
                    }
                    VeltButton {
                        text: "[↺ Var]"
                        isDark: true
                        visible: (panel.display ? !panel.display.isVantor : true) || veltranor.useDebugOptions
                        enabled: !panel.isRunning
                        onClicked: panel.toggleVariation()
                        VeltToolTip { isDark: true; text: "Toggle random variability on the Simulated Display" }
                    }
                }
            }
        }

        GridLayout {
            visible: panel.linearityMode
            Layout.leftMargin: 32
            columns: 4
            rowSpacing: 2

            Repeater {
                model: [
                    { label: "R gain:", value: "red", gain: "displayGainRed" },
                    { label: "G gain:", value: "green", gain: "displayGainGreen" },
                    { label: "B gain:", value: "blue", gain: "displayGainBlue" }
                ]
                delegate: Item {
                    required property var modelData
                    Layout.columnSpan: 4
                    implicitWidth: gainRow.implicitWidth
                    implicitHeight: gainRow.implicitHeight
                    Row {
                        id: gainRow
                        Text { text: modelData.label; color: "white" }
                        Text {
                            width: Math.max(61, implicitWidth)
                            horizontalAlignment: Text.AlignRight
                            text: panel.display ? (panel.display[modelData.value] / panel.maxRGB).toFixed(6) : ""
                            color: "white"
                        }
                        Text { text: "   out adj:"; color: "white" }
                        Text {
                            width: Math.max(61, implicitWidth)
                            horizontalAlignment: Text.AlignRight
                            text: panel.display ? panel.display[modelData.gain].toFixed(6) : ""
                            color: "white"
                        }
                    }
                }
            }
        }
    }
}
