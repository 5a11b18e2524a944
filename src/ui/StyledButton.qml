import QtQuick
import QtQuick.Controls
import Sonaric.Ui

// The settings window's button: prominent (white on `fill`) for the main action, else a faint one; deeper
// while hovered and more while pressed, a little smaller while pressed, half transparent while disabled.
AbstractButton {
    id: control

    property bool prominent
    property color fill: Theme.accent
    property string toolTip
    /// 1 at rest, 1.5 while hovered, 2 while pressed.
    readonly property real emphasis: pressed ? 2 : hovered ? 1.5 : 1

    leftPadding: 12
    rightPadding: 12
    topPadding: 5
    bottomPadding: 5
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    font: Theme.systemFont(12, Font.Medium)
    opacity: enabled ? 1 : 0.5
    scale: pressed ? 0.97 : 1
    Accessible.name: text

    contentItem: Text {
        text: control.text
        textFormat: Text.PlainText
        font: control.font
        color: control.prominent ? "white" : Theme.primary
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }

    background: Rectangle {
        objectName: "buttonBackground"
        radius: 7
        color: control.prominent ? Theme.tint(control.fill, 1.1 - 0.1 * control.emphasis) : Theme.tint(Theme.primary, 0.08 * control.emphasis)
        border.width: control.visualFocus ? 2 : 0
        border.color: Theme.accent

        Behavior on color {
            ColorAnimation {
                duration: 120
                easing.type: Easing.OutQuad
            }
        }
    }

    PlainToolTip {
        visible: control.hovered && control.toolTip.length > 0
        text: control.toolTip
    }
}
