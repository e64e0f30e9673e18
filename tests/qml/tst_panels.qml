import QtQuick
import QtQuick.Controls
import QtTest
import "qrc:/src/ui"

Item {
    id: root
    width: 600
    height: 500

    Component {
        id: scrollPanelComponent
        ScrollPanel {
            property alias block: block
            width: 200
            height: 150
            Rectangle {
                id: block
                implicitWidth: 100
                implicitHeight: 80
                color: "steelblue"
            }
        }
    }

    Component {
        id: basicPanelComponent
        BasicPanel {
            content: Rectangle {
                implicitWidth: 120
                implicitHeight: 40
                color: "red"
            }
        }
    }

    Component {
        id: horizontalComponent
        HorizontalSlider {
            width: 200
            leftText: "Favor shadows"
            rightText: "Equal"
            slider.from: 3.0
            slider.to: 1.0
            slider.stepSize: 0.5
        }
    }

    Component {
        id: verticalComponent
        VerticalSlider {
            height: 200
            topText: "0.500"
            bottomText: "Red"
            slider.from: 0
            slider.to: 1.0
        }
    }

    Component {
        id: windowComponent
        Window {
            property alias row: row
            width: 300
            height: 100
            HorizontalSlider {
                id: row
                width: 200
            }
        }
    }

    function findByName(item, name) {
        if (item.objectName === name)
            return item
        for (let i = 0; i < item.children.length; ++i) {
            const found = findByName(item.children[i], name)
            if (found)
                return found
        }
        return null
    }

    TestCase {
        name: "Panels"
        when: windowShown

        function test_scrollBarsOnlyOnOverflow_data() {
            return [
                { tag: "fits", w: 100, h: 80, vertical: false, horizontal: false },
                { tag: "too high", w: 100, h: 400, vertical: true, horizontal: false },
                { tag: "too wide", w: 400, h: 80, vertical: false, horizontal: true },
                { tag: "both", w: 400, h: 400, vertical: true, horizontal: true },
            ]
        }

        function test_scrollBarsOnlyOnOverflow(data) {
            const panel = createTemporaryObject(scrollPanelComponent, root)
            panel.block.implicitWidth = data.w
            panel.block.implicitHeight = data.h
            const vbar = panel.scrollView.ScrollBar.vertical
            const hbar = panel.scrollView.ScrollBar.horizontal
            compare(vbar.policy, data.vertical ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff)
            compare(hbar.policy, data.horizontal ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff)
            tryCompare(vbar, "opacity", data.vertical ? 1 : 0)
            tryCompare(hbar, "opacity", data.horizontal ? 1 : 0)
            compare(findByName(panel.scrollView, "cornerSquare").visible, data.vertical || data.horizontal)
        }

        function test_basicPanelSizesLikeItsContent() {
            const panel = createTemporaryObject(basicPanelComponent, root)
            compare(panel.implicitWidth, 120 + 16)
            compare(panel.implicitHeight, 40 + 16)
            compare(panel.content.parent, panel)
            panel.width = 300
            compare(panel.content.width, 300 - 16)
            const title = findByName(panel, "panelTitle")
            verify(!title.visible, "no title plate without a title")
            panel.title = "VANTOR Controls"
            verify(title.visible)
        }

        function test_horizontalSliderSnapsWhileDragged() {
            const row = createTemporaryObject(horizontalComponent, root, { y: 200 })
            const slider = row.slider
            const y = slider.height / 2
            mousePress(slider, slider.leftPadding + 8, y)
            for (const fraction of [0.3, 0.62, 0.9]) {
                mouseMove(slider, slider.leftPadding + fraction * slider.availableWidth, y, -1, Qt.LeftButton)
                verify(slider.value < 3.0, "the handle follows the drag")
                // The handle itself sits on a step, not only the value.
                const steps = slider.position * 4
                fuzzyCompare(steps, Math.round(steps), 1e-9)
                compare(row.value, slider.value)
            }
            mouseRelease(slider, slider.leftPadding + 0.9 * slider.availableWidth, y)
        }

        function test_slidersOnlyWhileIdleAndActive_data() {
            return [ { tag: "horizontal", component: horizontalComponent },
                     { tag: "vertical", component: verticalComponent } ]
        }

        function test_slidersOnlyWhileIdleAndActive(data) {
            const control = createTemporaryObject(data.component, root, { y: 250 })
            verify(control.slider.enabled)
            veltranor.running = true
            verify(!control.slider.enabled)
            veltranor.running = false
            verify(control.slider.enabled)
        }

        function test_sliderInInactiveWindow() {
            // A window of its own, not one that is active with the test window.
            const otherWindow = createTemporaryObject(windowComponent, null)
            otherWindow.show()
            root.Window.window.requestActivate()
            tryCompare(otherWindow, "active", false)
            verify(!otherWindow.row.slider.enabled, "window not active")
            otherWindow.requestActivate()
            tryCompare(otherWindow.row.slider, "enabled", true)
            otherWindow.close()
            root.Window.window.requestActivate()
            tryCompare(root.Window, "active", true)
        }
    }
}
