import QtQuick
import QtQuick.Layouts
import Sonaric.Ui

// A level in percent beside a slider: caption, secondary, right-aligned in a column as wide as the widest
// level, so the digits do not push the row about as they change.
Text {
    font: Theme.caption
    color: Theme.secondary
    textFormat: Text.PlainText
    horizontalAlignment: Text.AlignRight
    Layout.minimumWidth: widest.advanceWidth

    TextMetrics {
        id: widest
        font: Theme.caption
        text: "250%"
    }
}
