import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Sonaric.Ui

// Offered inside an application's row when a native connector could drive its own volume: connects it, and
// when that fails takes the user to the connector's settings.
PillButton {
    id: root

    /// The connector it offers; the button shows nothing without one.
    property NativeVolumeSession session
    readonly property bool busy: session !== null && session.busy
    signal openConnector(int source)

    Layout.topMargin: 2
    visible: session !== null
    enabled: !busy
    toolTip: session !== null ? session.switchHelp : ""
    text: MixerTexts.switchText(session !== null && session.isBrowser, busy)
    onClicked: session.switchToNative()

    contentItem: RowLayout {
        spacing: 4

        BusyIndicator {
            objectName: "spinner"
            visible: root.busy
            running: visible
            Layout.preferredWidth: 12
            Layout.preferredHeight: 12
            padding: 0
        }
        SymbolImage {
            visible: !root.busy
            symbol: "arrow.triangle.swap"
            size: Theme.smallSymbolSize
            color: Theme.accent
        }
        Text {
            objectName: "label"
            text: root.text
            font: root.font
            color: Theme.accent
            textFormat: Text.PlainText
        }
    }

    Connections {
        target: root.session
        function onSwitchToNativeFailed() {
            root.openConnector(root.session.source);
        }
    }
}
