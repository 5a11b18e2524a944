import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Sonaric.Ui

// One playing tab of a browser connector, indented under the browser's row: playing or paused, title, level,
// slider and mute. The roles come from `TabListModel`, which shows a pending change before the page confirms it.
RowLayout {
    id: row

    required property NativeVolumeSession session
    required property string tabId
    required property string title
    required property bool playing
    required property real volume
    required property bool muted
    required property string levelText
    required property string toolTip

    Layout.leftMargin: 30
    spacing: 8

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 2

        RowLayout {
            Layout.fillWidth: true
            spacing: 5

            HoverHandler {
                id: titleHover
            }
            PlainToolTip {
                visible: titleHover.hovered
                text: row.toolTip
            }

            SymbolImage {
                Layout.alignment: Qt.AlignVCenter
                symbol: row.playing ? "play.fill" : "pause.fill"
                size: 9
                color: Theme.secondary
            }
            Text {
                objectName: "title"
                Layout.fillWidth: true
                text: row.title
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
            Layout.fillWidth: true
            from: 0
            to: 1
            stepSize: 0.05
            value: row.volume
            enabled: !row.muted
            onMoved: row.session.setTabVolume(row.tabId, value)
            Accessible.name: row.title
        }
    }

    SymbolButton {
        objectName: "mute"
        symbol: MixerTexts.speakerSymbol(row.muted)
        toolTip: MixerTexts.muteToolTip(row.muted)
        onClicked: row.session.toggleTabMute(row.tabId)
    }

    // Stands where the header has its output button, so the mute buttons line up.
    Item {
        implicitWidth: 18
        implicitHeight: 1
    }
}
