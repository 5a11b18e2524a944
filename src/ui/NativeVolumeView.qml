pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Sonaric.Ui

// A connected native connector: an application's own volume, or a browser's playing tabs each with its own
// slider. Shows nothing while the connector is not connected.
ColumnLayout {
    id: root

    required property NativeVolumeSession session
    required property MixerModel mixer
    /// Busy or failed: the header's controls take no changes.
    readonly property bool blocked: session.busy || session.hasError

    visible: session.connected
    spacing: 4

    TabListModel {
        id: tabs
        session: root.session
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 8

        ConnectorIcon {
            Layout.alignment: Qt.AlignVCenter
            source: root.session.source
            size: 22
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2

            RowLayout {
                Layout.fillWidth: true
                spacing: 6
                Text {
                    objectName: "title"
                    // As wide as the title; the row narrows it (elided) only when it has no room for it.
                    text: root.session.title
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    maximumLineCount: 1
                    font: Theme.subheadline
                    color: Theme.primary
                }
                ActiveNativeTag {
                    objectName: "tabTag"
                    visible: root.session.isBrowser && !root.session.hasError
                    text: qsTr("Native tab volume")
                }
                Item {
                    Layout.fillWidth: true
                }
                LevelLabel {
                    objectName: "level"
                    visible: root.session.hasState
                    text: MixerTexts.percent(root.session.volume)
                }
            }

            Slider {
                objectName: "slider"
                Layout.fillWidth: true
                visible: root.session.hasState
                from: 0
                to: 1
                stepSize: 0.05
                value: root.session.volume
                enabled: !root.session.muted && !root.blocked
                onMoved: root.session.update(value, root.session.muted, "")
                Accessible.name: root.session.title
            }

            ActiveNativeTag {
                objectName: "appTag"
                Layout.topMargin: 2
                visible: !root.session.isBrowser && !root.session.hasError
                text: qsTr("Native app volume")
            }
        }

        SymbolButton {
            objectName: "mute"
            visible: root.session.hasState
            enabled: !root.blocked
            symbol: MixerTexts.speakerSymbol(root.session.muted)
            toolTip: MixerTexts.muteToolTip(root.session.muted)
            onClicked: root.session.update(root.session.volume, !root.session.muted, "")
        }

        OutputPickerButton {
            mixer: root.mixer
            appID: root.session.bundleID
            appName: root.session.appName
        }
    }

    ColumnLayout {
        objectName: "tabs"
        Layout.fillWidth: true
        visible: !root.session.hasError && tabs.count > 0
        enabled: !root.session.busy
        spacing: 4

        Repeater {
            model: tabs
            delegate: TabVolumeRow {
                Layout.fillWidth: true
                session: root.session
            }
        }
    }

    ColumnLayout {
        Layout.fillWidth: true
        Layout.leftMargin: 30
        spacing: 1
        visible: root.session.hasError || (root.session.isBrowser && tabs.count === 0)

        Text {
            objectName: "error"
            Layout.fillWidth: true
            visible: root.session.hasError
            text: root.session.error
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.caption
            color: Theme.red
        }
        Text {
            objectName: "errorHint"
            Layout.fillWidth: true
            visible: root.session.hasError
            text: qsTr("See Settings > Connectors for steps to fix it.")
            wrapMode: Text.Wrap
            font: Theme.caption
            color: Theme.secondary
        }
        Text {
            objectName: "noTabs"
            Layout.fillWidth: true
            visible: !root.session.hasError && root.session.isBrowser && tabs.count === 0
            text: MixerTexts.noTabsText(root.session.menuName)
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.caption
            color: Theme.secondary
        }
    }
}
