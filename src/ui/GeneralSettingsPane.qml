pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Sonaric.Ui

// The General pane: starting at login, and the highest level a mixer slider reaches.
SettingsScroll {
    id: root

    required property MixerModel model
    required property LaunchAtLogin launchAtLogin
    /// The offered limits, in order.
    readonly property var boostLevels: [2.0, 2.5]

    SettingsCard {
        SettingsRow {
            title: "Launch at login"
            subtitle: "Start Sonaric automatically when you log in."

            Switch {
                id: launchSwitch
                objectName: "launchSwitch"
                checked: root.launchAtLogin.isOn
                Accessible.name: "Launch at login"
                onToggled: {
                    root.launchAtLogin.set(checked);
                    // The switch shows what the desktop recorded, not what was clicked.
                    checked = Qt.binding(() => root.launchAtLogin.isOn);
                }
            }
        }
        SettingsDivider {
            visible: root.launchAtLogin.requiresApproval
        }
        SettingsRow {
            objectName: "approvalRow"
            visible: root.launchAtLogin.requiresApproval
            title: "Needs approval"
            subtitle: "Allow Sonaric in your desktop's startup applications settings."

            StyledButton {
                text: "Open Autostart Folder"
                fill: Theme.accent
                onClicked: root.launchAtLogin.openLoginItems()
            }
        }
        SettingsDivider {
            visible: root.launchAtLogin.error.length > 0
        }
        TextEdit {
            objectName: "launchError"
            Layout.fillWidth: true
            Layout.leftMargin: 18
            Layout.rightMargin: 18
            Layout.topMargin: 10
            Layout.bottomMargin: 10
            visible: root.launchAtLogin.error.length > 0
            text: root.launchAtLogin.error
            textFormat: TextEdit.PlainText
            wrapMode: TextEdit.Wrap
            readOnly: true
            selectByMouse: true
            font: Theme.systemFont(12, Font.Normal)
            color: Theme.red
        }
    }

    SettingsSectionHeader {
        title: "Mixer"
    }

    SettingsCard {
        SettingsRow {
            title: "Maximum boost"
            subtitle: "The highest level a mixer slider can reach."
            alignment: Qt.AlignTop

            Row {
                spacing: 12
                Repeater {
                    model: root.boostLevels
                    delegate: BoostChoice {
                        required property real modelData
                        value: modelData
                        selected: root.model.maxVolume === modelData
                        onClicked: root.model.setMaxVolume(modelData)
                    }
                }
            }
        }
    }

    SettingsFooter {
        text: "Applies to mixer sliders. Lowering it reduces any saved levels above the new limit."
    }
}
