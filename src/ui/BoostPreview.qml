import QtQuick
import Sonaric.Ui

// A miniature slider whose end is `max`: the knob sits at 100 %, and the accent-coloured stretch after it is
// the boost (the right half for 200 %, the right 60 % for 250 %).
Item {
    id: root

    property real max: 2
    property real track: 76
    /// Where 100 % lies from the leading edge.
    readonly property real unity: track / max

    implicitWidth: track
    implicitHeight: 12

    Rectangle {
        anchors.verticalCenter: parent.verticalCenter
        width: root.track
        height: 4
        radius: 2
        color: Theme.tint(Theme.primary, 0.18)
    }
    Rectangle {
        objectName: "boost"
        anchors.verticalCenter: parent.verticalCenter
        x: root.unity
        width: root.track - root.unity
        height: 4
        radius: 2
        gradient: Gradient {
            orientation: Gradient.Horizontal
            GradientStop {
                position: 0
                color: Qt.lighter(Theme.accent, 1.2)
            }
            GradientStop {
                position: 1
                color: Theme.accent
            }
        }
    }
    Rectangle {
        x: root.unity - 6
        y: 0.5
        width: 12
        height: 12
        radius: 6
        color: Qt.rgba(0, 0, 0, 0.3)
    }
    Rectangle {
        objectName: "knob"
        x: root.unity - 6
        width: 12
        height: 12
        radius: 6
        color: "white"
    }
}
