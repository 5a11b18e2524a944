import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Sonaric.Ui

// The sidebar's offer of a newer version: its number, the button that installs it (showing progress and
// disabled while it runs), and the failure under the button when the last attempt failed.
Rectangle {
    id: root

    property string version
    property bool busy
    /// The last failure's text; empty when there was none.
    property string failure

    signal install

    implicitHeight: column.implicitHeight + 20
    radius: 10
    color: Theme.tint(Theme.blue, 0.10)

    ColumnLayout {
        id: column
        x: 10
        y: 10
        width: root.width - 20
        spacing: 7

        RowLayout {
            Layout.alignment: Qt.AlignHCenter
            Layout.maximumWidth: column.width
            spacing: 4
            SymbolImage {
                Layout.alignment: Qt.AlignTop
                symbol: "arrow.down.circle.fill"
                color: Theme.blue
                size: 14
            }
            Text {
                objectName: "title"
                Layout.fillWidth: true
                text: "Version " + root.version + " is available"
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.systemFont(11.5, Font.DemiBold)
                color: Theme.blue
            }
        }
        StyledButton {
            id: button
            objectName: "installButton"
            Layout.fillWidth: true
            prominent: true
            fill: Theme.blue
            enabled: !root.busy
            text: root.busy ? "Updating…" : "Update and Relaunch"
            toolTip: "Downloads Sonaric " + root.version + ", replaces this copy with it and reopens it; your settings stay."
            onClicked: root.install()

            contentItem: RowLayout {
                spacing: 6
                Item {
                    Layout.fillWidth: true
                }
                BusyIndicator {
                    Layout.preferredWidth: 14
                    Layout.preferredHeight: 14
                    visible: root.busy
                    running: root.busy
                }
                Text {
                    Layout.topMargin: 3
                    Layout.bottomMargin: 3
                    text: button.text
                    textFormat: Text.PlainText
                    font: button.font
                    color: "white"
                }
                Item {
                    Layout.fillWidth: true
                }
            }
        }
        TextEdit {
            objectName: "failure"
            Layout.fillWidth: true
            visible: root.failure.length > 0
            text: root.failure
            textFormat: TextEdit.PlainText
            wrapMode: TextEdit.Wrap
            horizontalAlignment: TextEdit.AlignHCenter
            readOnly: true
            selectByMouse: true
            font: Theme.systemFont(10.5, Font.Normal)
            color: Theme.red
        }
    }
}
