pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Sonaric.Ui

// The settings window's content: the sidebar of panes (with the update card and the version line at its foot)
// and the selected pane, which fades in rising from 10 below when the pane changes. Where the desktop offers
// no blur behind windows, the sidebar is drawn in the palette's window colour.
Rectangle {
    id: root

    required property SettingsNavigation navigation
    required property MixerModel model
    required property LaunchAtLogin launchAtLogin
    required property ConnectorSettings connectors
    /// The updater, or null; read by name (its module sits beside this one).
    property var updater: null

    readonly property var paneTitles: ["General", "Connectors"]
    readonly property var paneSymbols: ["gearshape.fill", "puzzlepiece.extension.fill"]
    readonly property var paneTints: ["#8e8e93", "#ff9500"]
    readonly property string versionText: "Sonaric " + (updater ? updater.currentVersion : "")

    implicitWidth: 760
    implicitHeight: 468
    color: Theme.background

    component PaneView: Item {
        id: pane
        required property int paneIndex
        default property alias content: holder.data
        readonly property bool shown: root.navigation.pane === paneIndex

        objectName: "pane" + paneIndex
        width: parent.width
        height: parent.height
        visible: opacity > 0
        opacity: shown ? 1 : 0
        y: shown ? 0 : 10

        Behavior on opacity {
            NumberAnimation {
                duration: 260
                easing.type: Easing.OutCubic
            }
        }
        Behavior on y {
            SpringAnimation {
                spring: 5
                damping: 0.55
                epsilon: 0.05
            }
        }

        Text {
            objectName: "paneTitle"
            x: 28
            height: 52
            verticalAlignment: Text.AlignVCenter
            text: root.paneTitles[pane.paneIndex]
            textFormat: Text.PlainText
            font: Theme.systemFont(18, Font.DemiBold)
            color: Theme.primary
        }
        Item {
            id: holder
            y: 52
            width: parent.width
            height: parent.height - 52
        }
    }

    Item {
        id: sidebar
        objectName: "sidebar"
        width: 200
        height: parent.height

        // The selection slides between the items.
        Rectangle {
            objectName: "selection"
            // The count makes it look again once the items exist.
            readonly property Item target: items.count > 0 ? items.itemAt(root.navigation.pane) : null
            x: 12
            y: target ? 60 + target.y : 60
            width: 176
            height: target ? target.height : 0
            radius: 10
            color: Theme.tint(Theme.primary, 0.10)

            Behavior on y {
                SpringAnimation {
                    spring: 5
                    damping: 0.55
                    epsilon: 0.05
                }
            }
        }
        Column {
            x: 12
            y: 60
            width: 176
            spacing: 4
            Repeater {
                id: items
                model: root.paneTitles.length
                delegate: SidebarItem {
                    required property int index
                    objectName: "sidebarItem" + index
                    width: 176
                    text: root.paneTitles[index]
                    symbol: root.paneSymbols[index]
                    tint: root.paneTints[index]
                    selected: root.navigation.pane === index
                    onClicked: root.navigation.pane = index
                }
            }
        }
        ColumnLayout {
            x: 12
            width: 176
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 16
            spacing: 0

            UpdateCard {
                objectName: "updateCard"
                Layout.fillWidth: true
                Layout.bottomMargin: 8
                visible: root.updater !== null && root.updater.updateAvailable
                version: root.updater ? root.updater.available.version : ""
                busy: root.updater ? root.updater.busy : false
                failure: root.updater ? root.updater.errorText : ""
                onInstall: root.updater.install()
            }
            Text {
                objectName: "version"
                Layout.fillWidth: true
                text: root.versionText
                textFormat: Text.PlainText
                horizontalAlignment: Text.AlignHCenter
                font: Theme.systemFont(11, Font.Normal)
                color: Theme.tint(Theme.primary, 0.35)
            }
        }
    }

    Rectangle {
        x: 200
        width: 1
        height: parent.height
        color: Theme.separator
    }

    Rectangle {
        objectName: "panes"
        x: 201
        width: parent.width - 201
        height: parent.height
        color: Theme.palette.base
        clip: true

        PaneView {
            paneIndex: 0
            GeneralSettingsPane {
                anchors.fill: parent
                model: root.model
                launchAtLogin: root.launchAtLogin
            }
        }
        PaneView {
            paneIndex: 1
            ConnectorsSettingsPane {
                anchors.fill: parent
                connectors: root.connectors
                navigation: root.navigation
            }
        }
    }
}
