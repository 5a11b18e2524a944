pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Sonaric.Ui

// The mixer popover: the product name, a row per connected native connector, a row per application that
// plays, a line when nothing plays, and the last engine failure.
Pane {
    id: root

    required property MixerModel model
    /// One line shown under the name when not empty (which platform the mixer runs on, for example).
    property string notice
    /// The user wants the settings of this connector (a `NativeVolumeSource` case).
    signal openConnector(int source)

    width: 320
    implicitWidth: 320
    padding: 14

    // The same palette as every text and symbol here (the application's), whatever the controls' style holds.
    background: Rectangle {
        color: Theme.background
    }

    AppListModel {
        id: apps
        mixer: root.model
    }

    contentItem: ColumnLayout {
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            Text {
                text: qsTr("Sonaric")
                font: Theme.headline
                color: Theme.primary
            }
            Item {
                Layout.fillWidth: true
            }
        }

        Text {
            objectName: "notice"
            Layout.fillWidth: true
            visible: root.notice.length > 0
            text: root.notice
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.caption
            color: Theme.secondary
        }

        // A connector's row exists only while it is connected: most never are, and each row would otherwise
        // hold its controls and its output list's window for nothing.
        Repeater {
            model: root.model.nativeSessions
            delegate: Loader {
                required property NativeVolumeSession modelData
                readonly property bool wanted: modelData.connected
                Layout.fillWidth: true
                visible: status === Loader.Ready
                onWantedChanged: load()
                Component.onCompleted: load()
                function load() {
                    if (wanted)
                        setSource("NativeVolumeView.qml", { session: modelData, mixer: root.model });
                    else
                        source = "";
                }
            }
        }

        Repeater {
            model: apps
            delegate: AppRow {
                Layout.fillWidth: true
                mixer: root.model
                onOpenConnector: source => root.openConnector(source)
            }
        }

        Text {
            objectName: "emptyState"
            Layout.fillWidth: true
            visible: apps.count === 0 && !root.model.hasNativeConnection
            text: qsTr("Nothing is playing right now.")
            horizontalAlignment: Text.AlignHCenter
            topPadding: 12
            bottomPadding: 12
            color: Theme.secondary
        }

        Text {
            objectName: "lastError"
            Layout.fillWidth: true
            visible: root.model.lastError.length > 0
            text: root.model.lastError
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.caption
            color: Theme.red
        }
    }
}
