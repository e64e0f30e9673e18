import QtQuick
import QtQuick.Controls

// A picker of Option elements (or plain {text, value} rows) that shows the
// entry whose value equals `current`, the first entry when none does, and no
// entry at all while `showNone`. As wide as its widest entry.
ComboBox {
    id: picker

    property var current
    property bool showNone: false
    property color buttonColor: "#1A1A1A"
    property color popupColor: "#1A1A1A"
    property color textColor: "white"
    property color disabledTextColor: "#BBBBBB"
    property real minimumWidth: 0
    property real widest: 0

    textRole: "name"
    valueRole: "number"
    implicitWidth: Math.max(minimumWidth, widest + leftPadding + rightPadding + (indicator ? indicator.width : 0) + 8)

    function entry(i) {
        const m = model
        if (!m)
            return null
        return m.get ? m.get(i) : m[i]
    }

    function entryCount() {
        const m = model
        if (!m)
            return 0
        return m.count !== undefined ? m.count : (m.length !== undefined ? m.length : 0)
    }

    function indexFor(value) {
        const n = entryCount()
        for (let i = 0; i < n; ++i) {
            const e = entry(i)
            if (e && e[valueRole] == value)
                return i
        }
        return -1
    }

    function follow() {
        const n = entryCount()
        const i = indexFor(current)
        currentIndex = showNone || n === 0 ? -1 : (i >= 0 ? i : 0)
        let w = 0
        for (let k = 0; k < n; ++k) {
            const e = entry(k)
            if (e)
                w = Math.max(w, metrics.advanceWidth(String(e[textRole])))
        }
        widest = w
    }

    onCurrentChanged: follow()
    onModelChanged: follow()
    onCountChanged: follow()
    onShowNoneChanged: follow()
    Component.onCompleted: follow()

    FontMetrics {
        id: metrics
        font: picker.font
    }

    contentItem: Text {
        leftPadding: 8
        rightPadding: picker.indicator ? picker.indicator.width : 0
        text: picker.displayText
        font: picker.font
        color: picker.enabled ? picker.textColor : picker.disabledTextColor
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        implicitHeight: 22
        color: picker.buttonColor
        border.color: "#505050"
        radius: 3
    }

    popup.background: Rectangle {
        color: picker.popupColor
        border.color: "#505050"
    }

    delegate: ItemDelegate {
        width: picker.width
        highlighted: picker.highlightedIndex === index
        contentItem: Text {
            text: {
                const e = picker.entry(index)
                return e ? String(e[picker.textRole]) : ""
            }
            color: "white"
            font: picker.font
        }
        background: Rectangle {
            color: highlighted ? "#3088bb" : picker.popupColor
        }
    }
}
