import QtQuick
import QtQuick.Layouts
import Sonaric.Ui

// A setting: its title and, when given, a subtitle that wraps; its control (the accessory) at the trailing
// edge.
Item {
    id: root

    property string title
    property string subtitle
    /// Qt.AlignVCenter or Qt.AlignTop, for the title and the accessory alike.
    property int alignment: Qt.AlignVCenter
    default property alias accessory: accessoryHolder.data

    Layout.fillWidth: true
    implicitHeight: row.implicitHeight + 26

    RowLayout {
        id: row
        x: 18
        y: 13
        width: root.width - 36
        spacing: 16

        ColumnLayout {
            Layout.alignment: Qt.AlignLeft | root.alignment
            Layout.fillWidth: true
            Layout.minimumWidth: 0
            spacing: 3
            Text {
                objectName: "title"
                Layout.fillWidth: true
                text: root.title
                textFormat: Text.PlainText
                font: Theme.systemFont(13.5, Font.Medium)
                color: Theme.primary
                wrapMode: Text.Wrap
            }
            Text {
                objectName: "subtitle"
                Layout.fillWidth: true
                visible: root.subtitle.length > 0
                text: root.subtitle
                textFormat: Text.PlainText
                font: Theme.systemFont(12, Font.Normal)
                color: Theme.secondary
                wrapMode: Text.Wrap
            }
        }
        Item {
            id: accessoryHolder
            Layout.alignment: root.alignment
            implicitWidth: childrenRect.width
            implicitHeight: childrenRect.height
        }
    }
}
