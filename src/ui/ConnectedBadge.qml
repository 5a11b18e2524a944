import QtQuick
import Sonaric.Ui

// "Connected", small and green in a green capsule.
Rectangle {
    implicitWidth: row.implicitWidth + 14
    implicitHeight: row.implicitHeight + 4
    radius: height / 2
    color: Theme.tint(Theme.green, 0.14)

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 4
        Rectangle {
            anchors.verticalCenter: parent.verticalCenter
            width: 6
            height: 6
            radius: 3
            color: Theme.green
        }
        Text {
            text: "Connected"
            font: Theme.systemFont(10.5, Font.DemiBold)
            color: Theme.green
        }
    }
}
