import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window

// A modal dark message box. Its buttons only set their chosen flag and close
// the box: users act on the flags' changes.
Window {
    id: box

    property alias text: body.text
    property alias body: body
    property bool showOk: true
    property bool showCancel: false
    property bool okChosen: false
    property bool cancelChosen: false
    property bool button3Chosen: false
    property alias macOkButton: macOkButton
    property alias winOkButton: winOkButton
    property alias cancelButton: cancelButton
    property alias button3: button3

    readonly property bool isWindows: Qt.platform.os === "windows"
    // The view the box opens centred over; it stays centred while its
    // content settles, until someone else moves it.
    property var parentItem: null
    property bool centring: false
    property bool movingItself: false
    readonly property var okButton: isWindows ? winOkButton : macOkButton

    title: "MessageBox"
    visible: false
    modality: Qt.ApplicationModal
    flags: Qt.Dialog | Qt.CustomizeWindowHint | Qt.WindowTitleHint | Qt.WindowCloseButtonHint
    color: "#2A2A2A"
    // The box takes its content's size. The limits are widened before the
    // new size is asked for and narrowed after, so that a window manager,
    // which keeps a window within its limits, lets the box follow its text.
    function fitContent() {
        const w = Math.ceil(layout.implicitWidth)
        const h = Math.ceil(layout.implicitHeight)
        if (w <= 0 || h <= 0)
            return
        minimumWidth = Math.min(minimumWidth, w)
        minimumHeight = Math.min(minimumHeight, h)
        maximumWidth = Math.max(maximumWidth, w)
        maximumHeight = Math.max(maximumHeight, h)
        width = w
        height = h
        minimumWidth = w
        minimumHeight = h
        maximumWidth = w
        maximumHeight = h
        if (centring)
            centre()
    }

    // A layout computes its size when it is polished, which a hidden window
    // never is: its size is made current here, so that the box is shown with
    // the limits of its content. A window manager maps the box within the
    // limits in force then, and a note that wraps to more lines than the
    // last text did would otherwise be cut.
    function settleContent() {
        for (let pass = 0; pass < 8; ++pass) {
            const w = layout.implicitWidth
            const h = layout.implicitHeight
            layout.ensurePolished()
            if (layout.implicitWidth === w && layout.implicitHeight === h)
                return
        }
    }

    function centre() {
        if (!parentItem)
            return
        const origin = parentItem.mapToGlobal(0, 0)
        movingItself = true
        x = origin.x + (parentItem.width - width) / 2
        y = origin.y + (parentItem.height - height) / 2
        movingItself = false
    }
    onXChanged: if (!movingItself) centring = false
    onYChanged: if (!movingItself) centring = false
    Connections {
        target: layout
        function onImplicitWidthChanged() { box.fitContent() }
        function onImplicitHeightChanged() { box.fitContent() }
    }
    Component.onCompleted: fitContent()

    function choose(which) {
        if (which === "ok")
            okChosen = true
        else if (which === "cancel")
            cancelChosen = true
        else
            button3Chosen = true
        box.close()
    }

    function open() {
        okChosen = false
        cancelChosen = false
        button3Chosen = false
        centring = true
        settleContent()
        fitContent()
        centre()
        show()
        raise()
        requestActivate()
        if (cancelButton.highlighted && cancelButton.visible)
            cancelButton.forceActiveFocus()
        else
            okButton.forceActiveFocus()
    }

    Shortcut {
        sequences: ["Return", "Enter"]
        enabled: box.visible
        onActivated: {
            if (box.showCancel && box.cancelButton.highlighted)
                box.choose("cancel")
            else if (box.showOk)
                box.choose("ok")
        }
    }
    Shortcut {
        sequence: "Escape"
        enabled: box.visible
        onActivated: {
            if (box.showCancel)
                box.choose("cancel")
            else if (box.showOk)
                box.choose("ok")
        }
    }

    ColumnLayout {
        id: layout
        spacing: 0

        Text {
            id: body
            objectName: "messageText"
            Layout.minimumWidth: 200
            // A long note wraps rather than widening the box past the screen.
            Layout.maximumWidth: 460
            wrapMode: Text.Wrap
            Layout.margins: 16
            Layout.alignment: Qt.AlignHCenter
            horizontalAlignment: Text.AlignHCenter
            color: "white"
            textFormat: Text.AutoText
        }

        RowLayout {
            Layout.margins: 8
            spacing: 0

            VeltButton {
                id: button3
                objectName: "button3"
                Layout.margins: 8
                visible: false
                text: " ? "
                isDark: true
                onClicked: box.choose("button3")
            }
            Item {
                Layout.fillWidth: true
                Layout.minimumWidth: 16
            }
            VeltButton {
                id: winOkButton
                objectName: "winOkButton"
                Layout.margins: 8
                visible: box.isWindows && box.showOk
                text: "  Ok  "
                isDark: true
                highlighted: !cancelButton.highlighted
                onClicked: box.choose("ok")
            }
            VeltButton {
                id: cancelButton
                objectName: "cancelButton"
                Layout.margins: 8
                visible: box.showCancel
                text: " Cancel "
                isDark: true
                onClicked: box.choose("cancel")
            }
            VeltButton {
                id: macOkButton
                objectName: "macOkButton"
                Layout.margins: 8
                visible: !box.isWindows && box.showOk
                text: "  Ok  "
                isDark: true
                highlighted: !cancelButton.highlighted
                onClicked: box.choose("ok")
            }
        }
    }
}
