import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Red, green and blue of the active display. Setting a colour on the
// processor waits for its answer while events run, so slider moves that
// arrive meanwhile are coalesced: only the latest value is sent next.
// Only the operator's moves send; the sliders follow the display otherwise.
BasicPanel {
    id: panel

    property var mainView: null
    property var display: veltranor ? veltranor.display : null
    readonly property bool isRunning: mainView && mainView.isRunning !== undefined ? mainView.isRunning
                                                                                   : (veltranor ? veltranor.running : false)
    property var pending: ({})
    property bool sending: false

    title: qsTr("Output Controls")

    function findMainView() {
        for (let p = parent; p; p = p.parent) {
            if (p.dragMode !== undefined && p.isRunning !== undefined)
                return p
        }
        return null
    }
    Component.onCompleted: if (!mainView) mainView = findMainView()

    // Queues the channel's latest value; the outermost call sends.
    function request(channel, value) {
        if (!display)
            return
        pending[channel] = value
        if (sending)
            return
        sending = true
        try {
            for (;;) {
                const keys = Object.keys(pending)
                if (keys.length === 0)
                    break
                const key = keys[0]
                const v = pending[key]
                delete pending[key]
                if (display[key] !== v)
                    display[key] = v
            }
        } finally {
            sending = false
        }
    }

    content: RowLayout {
        spacing: 8

        Repeater {
            model: [
                { name: "Red", key: "red", colour: "#900000" },
                { name: "Green", key: "green", colour: "#006000" },
                { name: "Blue", key: "blue", colour: "#0000d0" }
            ]
            delegate: VerticalSlider {
                id: channelSlider
                objectName: "slider" + modelData.name
                required property var modelData
                Layout.fillHeight: true
                topText: slider.value.toFixed(3)
                bottomText: modelData.name
                bottomColor: modelData.colour
                slider.from: 0
                slider.to: 1.0
                slider.enabled: !panel.isRunning && Window.active
                Binding {
                    target: channelSlider.slider
                    property: "value"
                    value: panel.display ? panel.display[channelSlider.modelData.key] : 0
                    delayed: true
                    when: !channelSlider.slider.pressed
                }
                Connections {
                    target: channelSlider.slider
                    function onMoved() {
                        panel.request(channelSlider.modelData.key, channelSlider.slider.value)
                    }
                }
            }
        }
    }
}
