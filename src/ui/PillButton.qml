import QtQuick
import QtQuick.Controls
import Sonaric.Ui

// The small capsule button for actions inside a row: accent-coloured label on an accent fill that deepens
// while the pointer is over it and more while it is pressed.
AbstractButton {
    id: control

    property string toolTip
    /// The fill's opacity: pressed, else hovered, else at rest.
    readonly property real fill: pressed ? 0.32 : hovered ? 0.24 : 0.16

    leftPadding: 8
    rightPadding: 8
    topPadding: 3
    bottomPadding: 3
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    opacity: enabled ? 1 : 0.6
    font: Theme.captionMedium
    Accessible.name: text

    contentItem: Text {
        text: control.text
        font: control.font
        color: Theme.accent
        textFormat: Text.PlainText
        verticalAlignment: Text.AlignVCenter
    }

    background: Rectangle {
        implicitHeight: 18
        radius: height / 2
        color: Theme.tint(Theme.accent, control.fill)
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
