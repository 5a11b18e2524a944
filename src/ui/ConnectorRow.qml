import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Sonaric.Ui

// One connector in the Connectors pane: its icon and title, what it is doing (connected, or the error with
// its numbered steps), and the buttons to connect, try again or disconnect. Tinted while it is the highlighted
// connector; then Return presses its connect button.
Rectangle {
    id: root

    required property NativeVolumeSession session
    property bool highlighted
    readonly property bool connected: session.connected
    readonly property bool showsSteps: session.hasError
    readonly property string primaryTitle: session.busy ? "Connecting..." : session.hasError ? "Try Again" : "Connect"

    signal connectRequested
    signal disconnectRequested

    Layout.fillWidth: true
    implicitHeight: row.implicitHeight + 28
    color: Theme.tint(Theme.accent, highlighted ? 0.12 : 0)

    Behavior on color {
        ColorAnimation {
            duration: 250
            easing.type: Easing.InOutQuad
        }
    }

    Shortcut {
        sequences: ["Return", "Enter"]
        enabled: root.highlighted && !root.connected && !root.session.busy && root.visible
        onActivated: root.connectRequested()
    }

    RowLayout {
        id: row
        x: 18
        y: 14
        width: root.width - 36
        spacing: 12
        readonly property int alignment: Qt.AlignLeft | (root.connected || root.showsSteps ? Qt.AlignTop : Qt.AlignVCenter)

        ConnectorIcon {
            Layout.alignment: row.alignment
            source: root.session.source
            size: 30
        }
        ColumnLayout {
            Layout.alignment: row.alignment
            Layout.fillWidth: true
            Layout.minimumWidth: 0
            spacing: 4

            RowLayout {
                Layout.fillWidth: true
                spacing: 8
                Text {
                    objectName: "title"
                    text: root.session.title
                    textFormat: Text.PlainText
                    font: Theme.systemFont(13.5, Font.Medium)
                    color: Theme.primary
                }
                ConnectedBadge {
                    objectName: "badge"
                    visible: root.connected && !root.showsSteps
                }
                Item {
                    Layout.fillWidth: true
                }
            }
            StepsView {
                objectName: "steps"
                Layout.fillWidth: true
                visible: root.showsSteps
                message: root.session.error
                steps: root.session.errorSteps
            }
            Text {
                objectName: "connectedText"
                Layout.fillWidth: true
                visible: root.connected && !root.showsSteps
                text: root.session.isBrowser ? "Connected. Each playing tab gets its own slider in the mixer." : "Connected. The slider is in the mixer."
                textFormat: Text.PlainText
                font: Theme.systemFont(12, Font.Normal)
                color: Theme.secondary
                wrapMode: Text.Wrap
            }
        }
        RowLayout {
            Layout.alignment: Qt.AlignVCenter
            Layout.leftMargin: 12 - row.spacing
            spacing: 8

            StyledButton {
                objectName: "disconnect"
                visible: root.connected
                enabled: !root.session.busy
                text: "Disconnect"
                fill: Theme.accent
                onClicked: root.disconnectRequested()
            }
            StyledButton {
                objectName: "primary"
                visible: !root.connected || root.showsSteps
                enabled: !root.session.busy
                prominent: true
                fill: Theme.accent
                text: root.primaryTitle
                onClicked: root.connectRequested()
            }
        }
    }
}
