import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The preferences: every control edits its property of veltranor (or of a
// device) directly, and the setter stores it. Fixed size, following the
// sections shown.
ApplicationWindow {
    id: prefs

    property string appName: "VANTOR Veltrano ®"
    property var parentItem: null
    property bool reload: true
    property var editItem: null
    readonly property bool isRunning: veltranor ? veltranor.running : false
    readonly property bool useDebugOptions: veltranor ? veltranor.useDebugOptions : false
    readonly property int labelWidth: Qt.platform.os === "osx" ? 200 : 175
    readonly property bool isMac: Qt.platform.os === "osx"

    title: qsTr("%1 Preferences").arg(appName)
    visible: false
    flags: Qt.Dialog | Qt.CustomizeWindowHint | Qt.WindowTitleHint | Qt.WindowCloseButtonHint
    color: "#222222"
    palette.window: "#888888"
    palette.text: "white"
    palette.windowText: "white"
    palette.base: "transparent"
    palette.button: "#222222"

    readonly property int fixedWidth: sections.implicitWidth + 32
    readonly property int fixedHeight: sections.implicitHeight + 32 + footer.height
    width: fixedWidth
    height: fixedHeight
    minimumWidth: fixedWidth
    maximumWidth: fixedWidth
    minimumHeight: fixedHeight
    maximumHeight: fixedHeight

    // Set from opening until the window is moved by someone else: the
    // sections' sizes are final only once laid out, and the window stays
    // centred over the main view as they settle.
    property bool centring: false
    property bool movingItself: false

    function centre() {
        if (!parentItem)
            return
        const origin = parentItem.mapToGlobal(0, 0)
        movingItself = true
        x = origin.x + (parentItem.width - width) / 2
        y = origin.y + (parentItem.height - height) / 2
        movingItself = false
    }
    onWidthChanged: if (centring) centre()
    onHeightChanged: if (centring) centre()
    onXChanged: if (!movingItself) centring = false
    onYChanged: if (!movingItself) centring = false

    function open() {
        if (reload) {
            centring = true
            centre()
            if (veltranor.useSrgb)
                srgbRadio.checked = true
            else
                straightRadio.checked = true
            manualExposure.checked = !veltranor.autoControlExposure
            reload = false
        }
        show()
        raise()
        requestActivate()
    }

    function finishMainEditing() {
        if (parentItem && typeof parentItem.finishEditing === "function")
            parentItem.finishEditing()
        const field = activeFocusItem
        if (field && typeof field.finishEditing === "function")
            field.finishEditing()
    }

    function reset() {
        confirmBox.open()
    }

    function restoreDefaults() {
        veltranor.steps = 17
        veltranor.stepSpacing = 2.0
        veltranor.ambientBlack = false
        veltranor.trust1stPoint = false
        veltranor.errorAllowed = 0.3
        veltranor.readCount = 4
        veltranor.readDelay = 1500
        veltranor.targetCCT = 6504
        veltranor.targetDuv = 0.0032
        veltranor.gamma = 2.4
        veltranor.brightnessLevel = 100
        veltranor.useSrgb = false
        veltranor.statusString = "Defaults restored."
        console.log("Defaults restored.")
    }

    // The gamma override radios report here.
    function onRadioButtonChecked(text) {
        console.log("Gamma override", text)
        veltranor.useSrgb = text.startsWith("sRGB")
    }

    onIsRunningChanged: if (isRunning && visible) close()
    onClosing: function(close) {
        finishMainEditing()
        reload = true
        centring = false
    }
    onActiveChanged: if (!active) finishMainEditing()

    MessageBox {
        id: confirmBox
        title: "Are you sure?"
        text: "Reset all linearity and uniformity\nparameters to their defaults?"
        showCancel: true
        cancelButton.highlighted: true
        onOkChosenChanged: if (okChosen) prefs.restoreDefaults()
    }

    // ---- building blocks

    component Label: Text {
        color: "white"
        textFormat: Text.StyledText
        horizontalAlignment: Text.AlignRight
        wrapMode: Text.WordWrap
        Layout.preferredWidth: prefs.labelWidth
    }

    // A field showing obj[key] through toText and committing through fromText.
    component PrefField: VeltTextField {
        id: field
        property var obj: veltranor
        property string key: ""
        property var toText: function(v) { return String(v) }
        property var fromText: function(t) { return Number(t) }
        property string tip: ""
        readonly property var source: obj ? obj[key] : undefined
        readonly property string sourceText: source === undefined ? "" : toText(source)
        Layout.minimumWidth: 50
        color: !validator || acceptableInput ? "white" : "red"
        enabled: !prefs.isRunning
        onSourceTextChanged: target = sourceText
        Component.onCompleted: target = sourceText
        onTargetChanged: {
            if (!obj || target === sourceText)
                return
            obj[key] = fromText(target)
            if (target !== sourceText)
                target = sourceText
        }
        VeltToolTip { isDark: true; text: field.tip; visible: field.tip !== "" && field.hovered }
    }

    component PrefCheck: CheckBox {
        id: box
        property string tip: ""
        indicator.opacity: enabled ? 1.0 : 0.5
        contentItem: Text {
            leftPadding: box.indicator.width + box.spacing
            text: box.text
            color: "white"
            opacity: box.enabled ? 1.0 : 0.5
            verticalAlignment: Text.AlignVCenter
        }
        VeltToolTip { isDark: true; text: box.tip; visible: box.tip !== "" && box.hovered }
    }

    component Note: Text {
        text: "(only when Developer Options are on)"
        color: "white"
        horizontalAlignment: Text.AlignRight
        Layout.fillWidth: true
    }

    function precision(v, digits) {
        return Number(v).toPrecision(digits)
    }

    ColumnLayout {
        id: sections
        x: 16
        y: 16
        spacing: 16

        BasicPanel {
            title: "Linearity Settings"
            Layout.fillWidth: true
            content: ColumnLayout {
                RowLayout {
                    Label { text: "<b>Colorimeter</b>:" }
                    Text { text: veltranor.colorimeter ? veltranor.colorimeter.name : ""; color: "white" }
                    Text { text: "<b>Filter</b>:"; color: "white" }
                    OptionPicker {
                        objectName: "prefsFilterPicker"
                        buttonColor: "#222222"
                        popupColor: "#222222"
                        model: veltranor.colorimeter ? veltranor.colorimeter.filterList.options : null
                        current: veltranor.colorimeter ? veltranor.colorimeter.filter : -1
                        onActivated: function(index) { veltranor.colorimeter.setFilterAndMatrix(entry(index).number, -2) }
                        VeltToolTip { isDark: true; text: "Select the filter you have installed on the colorimeter" }
                    }
                    Text { text: "<b>Matrix</b>:"; color: "white" }
                    OptionPicker {
                        objectName: "prefsMatrixPicker"
                        buttonColor: "#222222"
                        popupColor: "#222222"
                        model: veltranor.colorimeter ? veltranor.colorimeter.matrixList.options : null
                        current: veltranor.colorimeter ? veltranor.colorimeter.matrix : -1
                        onActivated: function(index) { veltranor.colorimeter.setFilterAndMatrix(-2, entry(index).number) }
                        VeltToolTip { isDark: true; text: "Choose the correction matrix to match your spectrometer’s readings for this display" }
                    }
                }
                RowLayout {
                    Label { text: "<b>Correction</b>:" }
                    PrefField {
                        objectName: "steps"
                        key: "steps"
                        Layout.minimumWidth: 35
                        Layout.maximumWidth: 35
                        horizontalAlignment: Text.AlignHCenter
                        validator: IntValidator { bottom: veltranor.limits.steps.low; top: veltranor.limits.steps.high }
                        placeholderText: "17"
                        tip: "Number of tonal scale points to correct"
                    }
                    Text { text: veltranor.steps === 1 ? "Point" : "Points"; color: "white" }
                    PrefCheck {
                        text: "Relative"
                        checked: veltranor.trust1stPoint
                        onToggled: veltranor.trust1stPoint = checked
                        tip: "Correct relative to brightest point; assumes brightest point is already correct"
                    }
                    PrefCheck {
                        text: "Measure ambient black"
                        checked: veltranor.ambientBlack
                        onToggled: veltranor.ambientBlack = checked
                        tip: "Measure the black level. Otherwise, a black level of zero nits is assumed."
                    }
                    Text { text: "Point spacing:"; color: "white" }
                    HorizontalSlider {
                        id: spacing
                        objectName: "prefsSpacing"
                        Layout.preferredWidth: 200
                        color: "white"
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
                    Label { text: "<b>Readings per measurement</b>:" }
                    PrefField {
                        key: "readCount"
                        validator: IntValidator { bottom: veltranor.limits.readCount.low; top: veltranor.limits.readCount.high }
                        placeholderText: "4"
                        tip: "# of readings taken per measurement, usually 1 for spectrometer, 4–10 for colorimeter"
                    }
                    Label { text: "<b>Allowable RGB error, %</b>:" }
                    PrefField {
                        objectName: "errorAllowed"
                        key: "errorAllowed"
                        toText: function(v) { return Number(v).toPrecision(v > 99 ? 3 : 2) }
                        validator: DoubleValidator { bottom: veltranor.limits.errorAllowed.low; top: veltranor.limits.errorAllowed.high; notation: DoubleValidator.StandardNotation }
                        placeholderText: "1.0"
                        tip: "Error percentage allowed: typical range is 0.1% to 1.0%"
                    }
                }
            }
        }

        BasicPanel {
            title: "Uniformity Settings"
            Layout.fillWidth: true
            content: ColumnLayout {
                RowLayout {
                    Label { text: "<b>High gain</b>:" }
                    PrefField {
                        key: "highGainLimit"
                        toText: function(v) { return Number(v).toPrecision(2) }
                        validator: DoubleValidator { bottom: veltranor.limits.highGainLimit.low; top: veltranor.limits.highGainLimit.high; notation: DoubleValidator.StandardNotation }
                        placeholderText: "0.5"
                        tip: "Initial gain multiplier (0.01 to 5.0; default is 0.5)"
                    }
                    Label { text: "<b>Low gain</b>:" }
                    PrefField {
                        key: "lowGainLimit"
                        toText: function(v) { return Number(v).toPrecision(2) }
                        validator: DoubleValidator { bottom: veltranor.limits.lowGainLimit.low; top: veltranor.limits.lowGainLimit.high; notation: DoubleValidator.StandardNotation }
                        placeholderText: "0.25"
                        tip: "Conservative gain multiplier (0.005 to 5.0; default is 0.25)"
                    }
                }
                RowLayout {
                    Label { text: "<b>Compliant Iterations</b>:" }
                    PrefField {
                        key: "btCompliantIterations"
                        validator: IntValidator { bottom: veltranor.limits.btCompliantIterations.low; top: veltranor.limits.btCompliantIterations.high }
                        placeholderText: "50"
                        tip: "Minimum Uniformity iterations within error tolerance"
                    }
                    Label { text: "<b>Minimum Iterations</b>:" }
                    PrefField {
                        key: "btMinIterations"
                        validator: IntValidator { bottom: veltranor.limits.btMinIterations.low; top: veltranor.limits.btMinIterations.high }
                        placeholderText: "50"
                        tip: "Minimum Uniformity iterations"
                    }
                    Label { text: "<b>Maximum Iterations</b>:" }
                    PrefField {
                        key: "btMaxIterations"
                        validator: IntValidator { bottom: veltranor.limits.btMaxIterations.low; top: veltranor.limits.btMaxIterations.high }
                        placeholderText: "50"
                        tip: "Maximum Uniformity iterations"
                    }
                }
            }
        }

        BasicPanel {
            title: "High Resolution Uniformity Settings"
            objectName: "meshSection"
            visible: veltranor.display ? veltranor.display.supportsMeshUniformity : false
            Layout.fillWidth: true
            content: RowLayout {
                Label { text: "Horizontal Cells per Tile:" }
                PrefField {
                    key: "tileMeshWidth"
                    validator: IntValidator { bottom: veltranor.limits.tileMeshWidth.low; top: veltranor.limits.tileMeshWidth.high }
                    placeholderText: "20"
                    tip: "The number of horizontal uniformity cells per tile"
                }
                Label { text: "Vertical Cells per Tile:" }
                PrefField {
                    key: "tileMeshHeight"
                    validator: IntValidator { bottom: veltranor.limits.tileMeshHeight.low; top: veltranor.limits.tileMeshHeight.high }
                    placeholderText: "20"
                    tip: "The number of vertical uniformity cells per tile"
                }
            }
        }

        BasicPanel {
            title: "VANTOR Settings"
            Layout.fillWidth: true
            content: ColumnLayout {
                RowLayout {
                    Label { text: "<b>VANTOR address</b>:" }
                    PrefField {
                        objectName: "vantorAddress"
                        obj: veltranor.vantor
                        key: "address"
                        fromText: function(t) { return t }
                        Layout.fillWidth: true
                        Layout.minimumWidth: 200
                        color: "white"
                        placeholderText: "IPv4 address or hostname"
                        tip: "IP address like 192.168.0.42 or mDNS hostname like vantor-processor.local"
                    }
                }
                RowLayout {
                    Label { text: "<b>Username</b>:" }
                    PrefField {
                        objectName: "username"
                        obj: veltranor.vantor
                        key: "username"
                        fromText: function(t) { return t }
                        Layout.preferredWidth: 200
                        placeholderText: "optional"
                    }
                    Label { text: "<b>Password</b>:" }
                    PrefField {
                        objectName: "password"
                        obj: veltranor.vantor
                        key: "password"
                        fromText: function(t) { return t }
                        // Shown as typed: a field masked until edited
                        // empties itself on its first key, a Tab passing
                        // through included, and would store the empty text.
                        Layout.preferredWidth: 200
                        placeholderText: "optional"
                    }
                }
            }
        }

        BasicPanel {
            title: "Operational Settings"
            Layout.fillWidth: true
            content: RowLayout {
                Label { text: "<b>Measurement delay, msec</b>:" }
                PrefField {
                    key: "readDelay"
                    validator: IntValidator { bottom: veltranor.limits.readDelay.low; top: veltranor.limits.readDelay.high }
                    placeholderText: "1500"
                    tip: "Delay to allow VANTOR to respond and colorimeter to react; 1500 msec typical"
                }
                Item { Layout.fillWidth: true }
            }
        }

        BasicPanel {
            title: "Alternate Devices"
            Layout.fillWidth: true
            content: ColumnLayout {
                RowLayout {
                    Label { text: "<b>Alternate devices</b>:" }
                    PrefCheck {
                        text: "Cine Meter II colorimeter"
                        checked: veltranor.colorimeterType === 1
                        onToggled: veltranor.colorimeterType = checked ? 1 : 0
                        tip: "Use Cine Meter II iPhone app instead of CRI colorimeter"
                    }
                    PrefCheck {
                        text: "Dummy camera"
                        checked: veltranor.cameraType === 1
                        onToggled: veltranor.cameraType = checked ? 1 : 0
                        tip: "Simulate balancing without connecting a camera"
                    }
                    PrefCheck {
                        text: "VANTOR simulator"
                        checked: veltranor.outputType === 1
                        onToggled: veltranor.outputType = checked ? 1 : 0
                        tip: "Simulated VANTOR, rendered in a window"
                    }
                }
                RowLayout {
                    visible: veltranor.outputType === 1
                    Label { text: "<b>Simulator’s target CCT</b>:" }
                    PrefField {
                        key: "targetCCT"
                        validator: IntValidator { bottom: veltranor.limits.targetCCT.low; top: veltranor.limits.targetCCT.high }
                        placeholderText: "6500"
                        tip: "CCTs from 1667 to 10000 allowed; normal CCT is 6504"
                    }
                    Label { text: "<b>Simulator’s target duv</b>:" }
                    PrefField {
                        key: "targetDuv"
                        toText: function(v) { return Number(v).toPrecision(4) }
                        validator: DoubleValidator { bottom: veltranor.limits.targetDuv.low; top: veltranor.limits.targetDuv.high; notation: DoubleValidator.StandardNotation }
                        placeholderText: "0.0000"
                        tip: "dUVs from -0.0100 to 0.0100 allowed; normal is 0.0032"
                    }
                }
                RowLayout {
                    visible: veltranor.outputType === 1
                    Label { text: "<b>Simulator’s gamma (HDR)</b>:" }
                    PrefField {
                        objectName: "gamma"
                        key: "gamma"
                        // Rounded, so that 2.4 / 2.4 reads 1 and not float noise.
                        toText: function(v) { return String(parseFloat((v / 2.4).toFixed(6))) }
                        fromText: function(t) { return Number(t) * 2.4 }
                        validator: DoubleValidator { bottom: veltranor.limits.gamma.low / 2.4; top: veltranor.limits.gamma.high / 2.4; notation: DoubleValidator.StandardNotation }
                        placeholderText: "1.0"
                    }
                    Label { text: "<b>Simulator’s brightness, nits</b>:" }
                    PrefField {
                        key: "brightnessLevel"
                        validator: DoubleValidator {
                            bottom: veltranor.limits.brightnessLevel.low
                            top: veltranor.vantor ? veltranor.vantor.lumaMax : 10000
                            notation: DoubleValidator.StandardNotation
                        }
                        placeholderText: "100"
                    }
                }
                RowLayout {
                    visible: veltranor.colorimeterType === 1
                    Label { text: "<b>Cine Meter II address</b>:" }
                    PrefField {
                        obj: veltranor.colorimeter
                        key: "address"
                        fromText: function(t) { return t }
                        Layout.fillWidth: true
                        Layout.minimumWidth: 200
                        color: "white"
                        placeholderText: "IPv4 address or hostname"
                        tip: "IP address like 192.168.0.177 or mDNS hostname like my-phone.local"
                    }
                }
            }
        }

        BasicPanel {
            title: "Developer Settings"
            objectName: "developerSection"
            visible: prefs.useDebugOptions
            Layout.fillWidth: true
            content: ColumnLayout {
                RowLayout {
                    function onRadioButtonChecked(text) { prefs.onRadioButtonChecked(text) }
                    Label { text: "<b>Gamma override</b>:" }
                    VeltRadioButton {
                        id: srgbRadio
                        text: "sRGB (sdrPreserve)"
                        palette.windowText: "white"
                    }
                    VeltRadioButton {
                        id: straightRadio
                        text: "“Straight” gamma (sdrPower)"
                        palette.windowText: "white"
                    }
                    Note {}
                }
                RowLayout {
                    Label { text: "<b>Camera exposure control</b>:" }
                    PrefCheck {
                        id: manualExposure
                        text: "Manual control: auto-exposure and flicker-free shutter turned off"
                        checked: !veltranor.autoControlExposure
                        onToggled: veltranor.autoControlExposure = !checked
                        tip: "When selected and Developer Options are on, you control the camera’s exposure settings."
                    }
                    Note {}
                }
                RowLayout {
                    Label { text: "<b>Uniformity</b>:" }
                    PrefCheck {
                        text: "Remove reflections"
                        checked: veltranor.removeReflections
                        onToggled: veltranor.removeReflections = checked
                        tip: "Capture reflection images and remove them from display images. Assumes camera uses S-Log3 or raw images."
                    }
                    PrefCheck {
                        objectName: "logImages"
                        text: "Camera uses S-Log3"
                        enabled: !veltranor.useRawImages
                        checked: veltranor.useLogImages
                        onToggled: veltranor.useLogImages = checked
                        tip: "Processes camera JPEGs as S-Log3 log images, not STD gamma. Assumed if removing reflections and not using raw images."
                    }
                    PrefCheck {
                        text: "Raw images"
                        checked: veltranor.useRawImages
                        onToggled: veltranor.useRawImages = checked
                        tip: "Camera captures raw, not JPEG."
                    }
                    Note {}
                }
                RowLayout {
                    readonly property bool boostEnabled: veltranor.useRawImages || veltranor.useLogImages
                                                         || veltranor.removeReflections
                    Label { text: "<b>Raw / S-Log3 gain boost</b>:"; enabled: parent.boostEnabled; opacity: enabled ? 1.0 : 0.5 }
                    PrefField {
                        objectName: "gainBoost"
                        key: "linearGainBoost"
                        enabled: parent.boostEnabled && !prefs.isRunning
                        opacity: enabled ? 1.0 : 0.5
                        validator: IntValidator { bottom: veltranor.limits.linearGainBoost.low; top: veltranor.limits.linearGainBoost.high }
                        placeholderText: "0.0000"
                        tip: "Gain multiplier converting raw or log to gamma-corrected image. Higher boosts give more headroom for reflection removal. Range is 1 to 8; default is 2."
                    }
                    Label { text: "<b>Raw / S-Log3 gain tweak</b>:" }
                    PrefField {
                        key: "gainTweak"
                        toText: function(v) { return Number(v).toPrecision(3) }
                        validator: DoubleValidator { bottom: veltranor.limits.gainTweak.low; top: veltranor.limits.gainTweak.high; notation: DoubleValidator.StandardNotation }
                        placeholderText: "0.0000"
                        tip: "Dark-image gain tweak for linear images; default is 1.0."
                    }
                }
                RowLayout {
                    Label { text: "<b>Raw interpolation</b>:" }
                    OptionPicker {
                        objectName: "interpolationPicker"
                        enabled: veltranor.useRawImages
                        opacity: enabled ? 1.0 : 0.5
                        buttonColor: "#222222"
                        popupColor: "#222222"
                        textRole: "text"
                        valueRole: "value"
                        model: [
                            { value: 0, text: "bilinear" },
                            { value: 1, text: "VNG (variable number of gradients)" },
                            { value: 2, text: "PPG (patterned pixel grouping)" },
                            { value: 3, text: "AHD (adaptive homogeneity demosaicing)" },
                            { value: 12, text: "modified AHD" },
                            { value: 4, text: "DCB" },
                            { value: 11, text: "DHT" }
                        ]
                        Component.onCompleted: current = veltranor.rawInterpolation
                        onActivated: function(index) { veltranor.rawInterpolation = entry(index).value }
                        VeltToolTip { isDark: true; text: "Choose the demosaicing interpolation method; they vary in speed and in fine-detail artifacts." }
                    }
                    Label { text: "<b>Raw highlight recovery</b>:" }
                    OptionPicker {
                        objectName: "highlightPicker"
                        enabled: veltranor.useRawImages
                        opacity: enabled ? 1.0 : 0.5
                        Layout.preferredWidth: prefs.labelWidth
                        Layout.fillWidth: true
                        buttonColor: "#222222"
                        popupColor: "#222222"
                        textRole: "text"
                        valueRole: "value"
                        model: [
                            { value: 0, text: "clip to white" },
                            { value: 1, text: "unclipped (with color)" },
                            { value: 2, text: "blended clipped/unclipped" },
                            { value: 3, text: "reconstructed (white)" },
                            { value: 5, text: "reconstructed (blended)" },
                            { value: 9, text: "reconstructed (colored)" }
                        ]
                        Component.onCompleted: current = veltranor.highlightRecovery
                        onActivated: function(index) { veltranor.highlightRecovery = entry(index).value }
                        VeltToolTip { isDark: true; text: "Raw highlight handling when one or two channels are clipped. Default is unclipped (with color); reconstrucuted (white) looks good too but runs slower." }
                    }
                }
                RowLayout {
                    Label { text: "<b>Testing</b>:" }
                    PrefCheck {
                        text: "Auto-Restart after " + (prefs.parentItem && prefs.parentItem.restartSeconds !== undefined
                                                       ? prefs.parentItem.restartSeconds : 0) + " sec."
                        checked: prefs.parentItem && prefs.parentItem.autoRestart === true
                        onToggled: if (prefs.parentItem && prefs.parentItem.toggleAutoRestart) prefs.parentItem.toggleAutoRestart.trigger()
                    }
                    PrefCheck {
                        text: "Profile TileGrader"
                        checked: veltranor.tileGraderProfiling
                        onToggled: veltranor.tileGraderProfiling = !veltranor.tileGraderProfiling
                    }
                    VeltButton {
                        isDark: true
                        text: "Read-Count Test"
                        action: prefs.parentItem && prefs.parentItem.readCountTest ? prefs.parentItem.readCountTest : null
                    }
                    Item { Layout.fillWidth: true }
                }
            }
        }
    }

    footer: DialogButtonBox {
        id: buttons
        background: Rectangle { color: "#222222" }
        VeltButton {
            text: "OK"
            isDark: true
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
        }
        VeltButton {
            text: "Reset to Defaults"
            isDark: true
            DialogButtonBox.buttonRole: DialogButtonBox.ResetRole
        }
        onAccepted: prefs.close()
        onReset: prefs.reset()
    }
}
