import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Sonaric.Ui

// One pane in the settings sidebar: its icon tile and title. The selected item's highlight is the sidebar's
// own, which slides from item to item; this item only shows a faint one while the pointer is over it.
AbstractButton {
    id: control

    property string symbol
    property color tint: "gray"
    property bool selected

    leftPadding: 8
    rightPadding: 8
    topPadding: 7
    bottomPadding: 7
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    Accessible.role: Accessible.PageTab
    Accessible.name: text
    Accessible.selectable: true
    Accessible.selected: selected

    contentItem: RowLayout {
        spacing: 10
        SettingsIconTile {
            symbol: control.symbol
            tint: control.tint
            size: 24
        }
        Text {
            Layout.fillWidth: true
            text: control.text
            textFormat: Text.PlainText
            font: Theme.systemFont(14, Font.Normal)
            color: Theme.primary
            elide: Text.ElideRight
        }
    }

    background: Rectangle {
        radius: 10
        color: Theme.tint(Theme.primary, control.hovered && !control.selected ? 0.05 : 0)
        border.width: control.visualFocus ? 2 : 0
        border.color: Theme.accent

        Behavior on color {
            ColorAnimation {
                duration: 120
                easing.type: Easing.OutQuad
            }
        }
    }
}
