pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Sonaric.Ui

// The Connectors pane: each connector whose application is installed (or which is connected), in one card.
// Opened at a connector, it scrolls that connector's row to the middle and tints it.
SettingsScroll {
    id: root

    required property ConnectorSettings connectors
    required property SettingsNavigation navigation

    /// The row of a connector; null when it is not listed.
    function rowFor(source: int): Item {
        for (let i = 0; i < rows.count; ++i) {
            const row = rows.itemAt(i)?.row ?? null;
            if (row !== null && row.session.source === source)
                return row;
        }
        return null;
    }
    function scrollToHighlighted() {
        if (root.navigation.highlighted < 0)
            return;
        const row = rowFor(root.navigation.highlighted);
        if (row !== null)
            root.centre(row);
    }

    component ConnectorEntry: ColumnLayout {
        id: entry
        required property int index
        required property NativeVolumeSession modelData
        readonly property ConnectorRow row: row

        Layout.fillWidth: true
        spacing: 0
        SettingsDivider {
            objectName: "divider"
            visible: entry.index > 0
        }
        ConnectorRow {
            id: row
            session: entry.modelData
            highlighted: root.navigation.highlighted === entry.modelData.source
            onConnectRequested: root.connectors.connectSession(entry.modelData)
            onDisconnectRequested: root.connectors.disconnectSession(entry.modelData)
        }
    }

    onVisibleChanged: if (visible)
        scrollLater.restart()
    Component.onCompleted: scrollLater.restart()

    // The scroll waits for the next turn of the event loop, when the rows have their places.
    Timer {
        id: scrollLater
        interval: 0
        onTriggered: root.scrollToHighlighted()
    }
    Connections {
        target: root.navigation
        function onHighlightedChanged() {
            scrollLater.restart();
        }
    }

    SettingsCard {
        objectName: "connectorsCard"
        Repeater {
            id: rows
            model: root.connectors.sessions
            delegate: ConnectorEntry {}
        }
    }

    SettingsFooter {
        text: "Native sliders control an app's own volume (0-100%). Browser connectors give each playing tab its own slider: YouTube, YouTube Music, Netflix, Twitch and most other video or audio sites. Once connected, the sliders appear in the mixer."
    }
}
