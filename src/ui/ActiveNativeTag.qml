import QtQuick
import QtQuick.Layouts
import Sonaric.Ui

// The small accent capsule that marks a row as driven through the application's own volume.
Rectangle {
    id: tag

    property string text

    implicitWidth: content.implicitWidth + 14
    implicitHeight: content.implicitHeight + 4
    radius: height / 2
    color: Theme.accent

    RowLayout {
        id: content
        anchors.centerIn: parent
        spacing: 3

        SymbolImage {
            symbol: "sparkles"
            size: 9
            color: Theme.onAccent
        }
        Text {
            text: tag.text
            font: Theme.caption2Semibold
            color: Theme.onAccent
            textFormat: Text.PlainText
        }
    }

    HoverHandler {
        id: hover
    }
    PlainToolTip {
        visible: hover.hovered
        text: qsTr("To go back to the mixer's volume, disconnect in Settings > Connectors.")
    }
}
