import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Sonaric.Ui

// One application of the mixer: icon, name, level, slider, the offer to switch to its own (native) volume
// when a connector exists for it, mute, and where it plays. The roles come from `AppListModel`.
RowLayout {
    id: row

    required property MixerModel mixer
    required property string appId
    required property string name
    required property url icon
    required property real level
    required property string levelText
    required property bool muted
    required property NativeVolumeSession connector
    signal openConnector(int source)

    spacing: 8

    Image {
        Layout.preferredWidth: 22
        Layout.preferredHeight: 22
        Layout.alignment: Qt.AlignVCenter
        source: row.icon
        sourceSize.width: 22
        sourceSize.height: 22
        fillMode: Image.PreserveAspectFit
    }

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 2

        RowLayout {
            Layout.fillWidth: true
            Text {
                objectName: "name"
                Layout.fillWidth: true
                text: row.name
                textFormat: Text.PlainText
                elide: Text.ElideRight
                maximumLineCount: 1
                font: Theme.subheadline
                color: Theme.primary
            }
            LevelLabel {
                objectName: "level"
                text: row.levelText
            }
        }

        Slider {
            objectName: "slider"
            Accessible.name: row.name
            Layout.fillWidth: true
            from: 0
            to: row.mixer.maxVolume
            stepSize: 0.05
            value: row.level
            enabled: !row.muted
            onMoved: row.mixer.setVolume(row.appId, value)
        }

        SwitchToNativeButton {
            objectName: "switch"
            session: row.connector
            onOpenConnector: source => row.openConnector(source)
        }
    }

    SymbolButton {
        objectName: "mute"
        symbol: MixerTexts.speakerSymbol(row.muted)
        toolTip: MixerTexts.muteToolTip(row.muted)
        onClicked: row.mixer.toggleMute(row.appId)
    }

    OutputPickerButton {
        mixer: row.mixer
        appID: row.appId
        appName: row.name
    }
}
