import QtQuick
import QtQuick.Layouts
import Sonaric.Ui

// The line between two rows of a card, indented from the leading edge.
Rectangle {
    Layout.fillWidth: true
    Layout.leftMargin: 18
    implicitHeight: 1
    color: Theme.separator
}
