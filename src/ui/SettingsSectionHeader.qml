import QtQuick
import QtQuick.Layouts
import Sonaric.Ui

// A heading between cards.
Text {
    property string title

    Layout.fillWidth: true
    leftPadding: 4
    topPadding: 14
    text: title
    textFormat: Text.PlainText
    font: Theme.systemFont(14, Font.DemiBold)
    color: Theme.primary
}
