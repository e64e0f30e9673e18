import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The colour meter, its filter and matrix, the linearity parameters and the
// latest reading.
BasicPanel {
    id: panel

    property var mainView: null
    readonly property var meter: veltranor ? veltranor.colorimeter : null
    readonly property bool isRunning: mainView && mainView.isRunning !== undefined ? mainView.isRunning
                                                                                   : (veltranor ? veltranor.running : false)

    title: qsTr("Correction Controls")

    function findMainView() {
        for (let p = parent; p; p = p.parent) {
            if (p.dragMode !== undefined && p.isRunning !== undefined)
                return p
        }
        return null
    }
    Component.onCompleted: if (!mainView) mainView = findMainView()

    content: ColumnLayout {
        spacing: 6

        RowLayout {
            VeltLED {
                id: meterLed
                device: "Colorimeter"
                status: panel.meter ? panel.meter.error : ""
            }
            Text {
                text: "<b>Colorimeter</b>:"
                color: "white"
                horizontalAlignment: Text.AlignRight
                Layout.preferredWidth: panel.column1Width - meterLed.width - 5
            }
            Text {
                objectName: "meterName"
                text: panel.meter ? panel.meter.name : ""
                color: "white"
                elide: Text.ElideRight
                Layout.minimumWidth: 130
                Layout.fillWidth: true
                Layout.rightMargin: 16
            }
            Text { text: "<b>Filter</b>:"; color: "white" }
            OptionPicker {
                objectName: "filterPicker"
                model: panel.meter ? panel.meter.filterList.options : null
                current: panel.meter ? panel.meter.filter : -1
                enabled: !panel.isRunning
                onActivated: function(index) { panel.meter.setFilterAndMatrix(entry(index).number, -2) }
                VeltToolTip { isDark: true; text: "Select the filter you have installed on the colorimeter" }
            }
            Text { text: "<b>Matrix</b>:"; color: "white"; Layout.leftMargin: 10 }
            OptionPicker {
                objectName: "matrixPicker"
                model: panel.meter ? panel.meter.matrixList.options : null
                current: panel.meter ? panel.meter.matrix : -1
                enabled: !panel.isRunning
                onActivated: function(index) { panel.meter.setFilterAndMatrix(-2, entry(index).number) }
                VeltToolTip { isDark: true; text: "Choose the correction matrix to match your spectrometer’s readings for this display" }
            }
        }

        RowLayout {
            visible: panel.meter ? panel.meter.name === "Cine Meter II" : false
            Text {
                text: "<b>Address</b>:"
                color: "white"
                horizontalAlignment: Text.AlignRight
                Layout.preferredWidth: panel.column1Width
            }
            VeltTextField {
                objectName: "meterAddress"
                Layout.maximumWidth: 200
                Layout.fillWidth: true
                enabled: !panel.isRunning
                color: "white"
                Binding on target { value: panel.meter ? panel.meter.address : "" }
                onTargetChanged: if (panel.meter && target !== panel.meter.address) panel.meter.address = target
                VeltToolTip { isDark: true; text: "IP address like 192.168.0.177 or mDNS hostname like my-phone.local" }
            }
        }

        RowLayout {
            Text {
                text: "<b>Correction</b>:"
                color: "white"
                horizontalAlignment: Text.AlignRight
                Layout.preferredWidth: panel.column1Width
            }
            VeltTextField {
                objectName: "stepsField"
                Layout.preferredWidth: 35
                horizontalAlignment: Text.AlignHCenter
                enabled: !panel.isRunning
                validator: IntValidator { bottom: veltranor.limits.steps.low; top: veltranor.limits.steps.high }
                color: acceptableInput ? "white" : "#ff6666"
                Binding on target { value: String(veltranor.steps) }
                onTargetChanged: if (String(veltranor.steps) !== target) veltranor.steps = Number(target)
                VeltToolTip { isDark: true; text: "Number of tonal scale points to correct" }
            }
            Text {
                text: veltranor.steps === 1 ? "Point" : "Points"
                color: "white"
                Layout.minimumWidth: 38
            }
            CheckBox {
                id: relativeBox
                text: "Relative"
                enabled: !panel.isRunning
                checked: veltranor.trust1stPoint
                onToggled: veltranor.trust1stPoint = checked
                indicator.opacity: enabled ? 1.0 : 0.7
                contentItem: Text {
                    leftPadding: relativeBox.indicator.width + relativeBox.spacing
                    text: relativeBox.text
                    color: "white"
                    verticalAlignment: Text.AlignVCenter
                }
                VeltToolTip { isDark: true; text: "Correct relative to brightest point; assumes brightest point is already correct" }
            }
            CheckBox {
                id: blackBox
                text: "Measure ambient black"
                enabled: !panel.isRunning
                checked: veltranor.ambientBlack
                onToggled: veltranor.ambientBlack = checked
                indicator.opacity: enabled ? 1.0 : 0.7
                contentItem: Text {
                    leftPadding: blackBox.indicator.width + blackBox.spacing
                    text: blackBox.text
                    color: "white"
                    verticalAlignment: Text.AlignVCenter
                }
                VeltToolTip { isDark: true; text: "Measure the black level. Otherwise, a black level of zero nits is assumed." }
            }
            Item { Layout.fillWidth: true }
            Text { text: "Point spacing:"; color: "white"; Layout.leftMargin: 32 }
            HorizontalSlider {
                id: spacing
                objectName: "spacingSlider"
                isDark: true
                Layout.preferredWidth: 200
                Layout.maximumWidth: 200
                leftText: "Favor shadows"
                rightText: "Equal"
                slider.from: 3.0
                slider.to: 1.0
                slider.stepSize: 0.5
                value: veltranor.stepSpacing
                onValueChanged: veltranor.stepSpacing = value
                VeltToolTip {
                    parent: spacing.slider
                    isDark: true
                    text: "Drag left to cluster correction points in the shadows.\nDrag right to spread points evenly over tonal scale."
                }
            }
        }

        RowLayout {
            Item { Layout.preferredWidth: panel.column1Width }
            Item { Layout.fillWidth: true }
            Text { text: "CCT:"; color: "white" }
            Text { objectName: "cctText"; text: panel.meter ? panel.meter.cctString : ""; color: "white"; Layout.minimumWidth: 60 }
            Text { text: "Duv:"; color: "white" }
            Text { objectName: "duvText"; text: panel.meter ? panel.meter.duvString : ""; color: "white"; Layout.minimumWidth: 70 }
            Text { text: "Luminance:"; color: "white" }
            Text { objectName: "luminanceText"; text: panel.meter ? panel.meter.luminanceString : ""; color: "white"; Layout.minimumWidth: 80 }
            Item { Layout.fillWidth: true }
            VeltButton {
                text: "Spot Measure"
                icon.source: "icons/IconSpotMeasure.png"
                isDark: true
                enabled: !panel.isRunning
                onPressed: {
                    if (panel.mainView && panel.mainView.takeReading)
                        panel.mainView.takeReading.trigger()
                    else
                        veltranor.takeMeasurement()
                }
                VeltToolTip { isDark: true; text: "Take a reading and display the measurement in the correction panel" }
            }
        }
    }
}
