import QtQuick
import QtQuick.Controls
import Sonaric.Ui

// One boost limit to choose: a tile with the miniature slider for it, ringed in the accent colour while it is
// the model's limit, and its percentage under it.
AbstractButton {
    id: control

    property real value: 2
    property bool selected
    readonly property string percentText: Math.floor(value * 100 + 0.5) + "%"

    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    padding: 0
    Accessible.role: Accessible.RadioButton
    Accessible.name: "Maximum boost " + percentText
    Accessible.checkable: true
    Accessible.checked: selected

    contentItem: Column {
        spacing: 6

        Item {
            width: 110
            height: 60

            Rectangle {
                x: 3
                y: 3
                width: 104
                height: 54
                radius: 10
                color: Theme.tint(Theme.primary, 0.06)
                border.width: 1
                border.color: Theme.tint(Theme.primary, control.hovered && !control.selected ? 0.3 : 0.1)

                Behavior on border.color {
                    ColorAnimation {
                        duration: 120
                        easing.type: Easing.OutQuad
                    }
                }

                BoostPreview {
                    anchors.centerIn: parent
                    max: control.value
                    track: 76
                }
            }
            Rectangle {
                objectName: "ring"
                anchors.fill: parent
                radius: 13
                color: "transparent"
                border.width: 2.5
                border.color: Theme.accent
                opacity: control.selected ? 1 : 0
                scale: control.selected ? 1 : 0.94

                Behavior on opacity {
                    SpringAnimation {
                        spring: 4
                        damping: 0.4
                    }
                }
                Behavior on scale {
                    SpringAnimation {
                        spring: 4
                        damping: 0.4
                    }
                }
            }
        }
        Text {
            objectName: "caption"
            anchors.horizontalCenter: parent.horizontalCenter
            text: control.percentText
            textFormat: Text.PlainText
            font: Theme.systemFont(12, control.selected ? Font.DemiBold : Font.Normal)
            color: control.selected ? Theme.primary : Theme.secondary
        }
    }
}
