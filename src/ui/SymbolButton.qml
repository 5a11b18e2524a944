import QtQuick
import QtQuick.Controls
import Sonaric.Ui

// A borderless button that shows a system symbol, with a tooltip and a focus ring for the keyboard.
AbstractButton {
    id: root

    property string symbol
    property color color: Theme.secondary
    property string toolTip

    implicitWidth: 18
    implicitHeight: 18
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    opacity: enabled ? 1 : 0.45
    Accessible.name: toolTip

    contentItem: Item {
        SymbolImage {
            anchors.centerIn: parent
            symbol: root.symbol
            color: root.color
            opacity: root.pressed ? 0.6 : 1
        }
    }
    background: Rectangle {
        anchors.fill: parent
        anchors.margins: -3
        radius: 5
        color: "transparent"
        border.width: root.visualFocus ? 2 : 0
        border.color: Theme.accent
    }

    PlainToolTip {
        visible: root.hovered && root.toolTip.length > 0
        text: root.toolTip
    }
}
