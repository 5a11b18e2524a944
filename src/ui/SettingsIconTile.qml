import QtQuick
import Sonaric.Ui

// A pane's symbol, white on a rounded tile of its tint with a faint shadow.
Item {
    id: root

    property string symbol
    property color tint: "gray"
    property real size: 24

    implicitWidth: size
    implicitHeight: size

    Rectangle {
        anchors.fill: parent
        anchors.topMargin: 0.5
        anchors.bottomMargin: -0.5
        radius: root.size * 0.27
        color: Qt.rgba(0, 0, 0, 0.15)
    }
    Rectangle {
        anchors.fill: parent
        radius: root.size * 0.27
        gradient: Gradient {
            GradientStop {
                position: 0
                color: Qt.lighter(root.tint, 1.15)
            }
            GradientStop {
                position: 1
                color: root.tint
            }
        }
    }
    SymbolImage {
        anchors.centerIn: parent
        symbol: root.symbol
        color: "white"
        size: root.size * 0.5
    }
}
