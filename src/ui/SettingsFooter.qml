import QtQuick
import QtQuick.Layouts
import Sonaric.Ui

// A note under a card, in small secondary type.
Text {
    Layout.fillWidth: true
    leftPadding: 6
    rightPadding: 6
    textFormat: Text.PlainText
    wrapMode: Text.Wrap
    font: Theme.systemFont(11.5, Font.Normal)
    color: Theme.secondary
}
