import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Sonaric.Ui

// One entry of the output picker's list: symbol, title, an optional subtitle, and a checkmark when selected.
// The whole row is clickable unless it is not `selectable`.
AbstractButton {
    id: row

    property string symbol
    property string title
    property string subtitle
    property bool selected
    property bool selectable: true
    /// The keyboard is on this row.
    property bool current

    enabled: selectable
    hoverEnabled: true
    focusPolicy: Qt.NoFocus
    leftPadding: 8
    rightPadding: 8
    topPadding: 5
    bottomPadding: 5
    Accessible.name: title

    background: Rectangle {
        radius: 6
        color: (row.hovered || row.current) && row.enabled ? Theme.tint(Theme.accent, 0.14) : "transparent"
    }

    contentItem: RowLayout {
        spacing: 8

        Item {
            Layout.preferredWidth: 18
            Layout.preferredHeight: 18
            Layout.alignment: Qt.AlignVCenter
            SymbolImage {
                anchors.centerIn: parent
                symbol: row.symbol
                color: row.selected ? Theme.accent : Theme.secondary
            }
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 1
            Text {
                objectName: "title"
                Layout.fillWidth: true
                text: row.title
                textFormat: Text.PlainText
                elide: Text.ElideRight
                maximumLineCount: 1
                color: Theme.primary
            }
            Text {
                objectName: "subtitle"
                Layout.fillWidth: true
                visible: row.subtitle.length > 0
                text: row.subtitle
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.caption
                color: Theme.secondary
            }
        }
        SymbolImage {
            objectName: "checkmark"
            Layout.leftMargin: 4
            Layout.alignment: Qt.AlignVCenter
            visible: row.selected
            symbol: "checkmark"
            size: Theme.smallSymbolSize
            color: Theme.accent
        }
    }
}
