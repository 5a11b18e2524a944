import QtQuick
import QtQuick.Layouts
import Sonaric.Ui

// A rounded card of rows on a faint fill with a faint inner border.
Rectangle {
    id: root

    default property alias content: column.data

    Layout.fillWidth: true
    implicitHeight: column.implicitHeight
    radius: 14
    color: Theme.tint(Theme.primary, 0.045)
    border.width: 1
    border.color: Theme.tint(Theme.primary, 0.08)
    clip: true

    ColumnLayout {
        id: column
        width: root.width
        spacing: 0
    }
}
