import QtQuick
import QtQuick.Controls

// A tooltip whose text is shown as plain text (it often carries an application's or a page's name), wrapped
// so that it fits the small windows it opens in.
ToolTip {
    id: tip

    delay: 600
    width: Math.min(implicitWidth, 280)
    contentItem: Text {
        text: tip.text
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: tip.font
        color: tip.palette.toolTipText
    }
}
