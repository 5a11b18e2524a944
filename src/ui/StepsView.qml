pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Sonaric.Ui

// A connector's error with its numbered fix-it steps, in red; the text can be selected and copied.
ColumnLayout {
    id: root

    property string message
    /// The fix-it steps, in order (a list of strings).
    property var steps: []

    spacing: 3

    // The numbers' column is as wide as the widest number, so ten steps and more stay aligned.
    TextMetrics {
        id: widestNumber
        font: Theme.caption
        text: MixerTexts.stepNumber(Math.max(0, root.steps.length - 1))
    }

    TextEdit {
        objectName: "message"
        Layout.fillWidth: true
        visible: root.message.length > 0
        text: root.message
        textFormat: TextEdit.PlainText
        wrapMode: TextEdit.Wrap
        readOnly: true
        selectByMouse: true
        font: Theme.captionSemibold
        color: Theme.red
    }

    Repeater {
        model: root.steps
        delegate: RowLayout {
            id: step

            required property int index
            required property string modelData

            Layout.fillWidth: true
            spacing: 4

            Text {
                Layout.alignment: Qt.AlignTop
                Layout.preferredWidth: widestNumber.advanceWidth
                text: MixerTexts.stepNumber(step.index)
                horizontalAlignment: Text.AlignRight
                font: Theme.caption
                color: Theme.red
            }
            TextEdit {
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignTop
                text: step.modelData
                textFormat: TextEdit.PlainText
                wrapMode: TextEdit.Wrap
                readOnly: true
                selectByMouse: true
                font: Theme.caption
                color: Theme.red
            }
        }
    }
}
