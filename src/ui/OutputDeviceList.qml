pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Sonaric.Ui

// The output picker's list: "System default", a divider, every output device, and the device of a route whose
// device is gone. Rows come from `OutputDeviceListModel`.
Rectangle {
    id: root

    required property OutputDeviceListModel choices
    required property string appName
    /// The row the keyboard is on, -1 for none.
    property int currentIndex: -1
    /// A row was chosen and the route is set.
    signal chosen

    function moveCurrent(step: int) {
        let next = currentIndex;
        for (let tries = 0; tries < choices.count; ++tries) {
            next = (next + step + choices.count) % choices.count;
            if (rows.itemAt(next) && rows.itemAt(next).selectable) {
                currentIndex = next;
                return;
            }
        }
    }
    function chooseCurrent() {
        if (choices.choose(currentIndex))
            chosen();
    }

    implicitWidth: 250
    implicitHeight: column.implicitHeight + 16
    color: Theme.background
    border.width: 1
    border.color: Theme.separator

    ColumnLayout {
        id: column
        x: 8
        y: 8
        width: parent.width - 16
        spacing: 2

        Text {
            objectName: "heading"
            Layout.fillWidth: true
            leftPadding: 8
            rightPadding: 8
            bottomPadding: 2
            text: MixerTexts.pickerHeading(root.appName)
            textFormat: Text.PlainText
            elide: Text.ElideRight
            font: Theme.captionSemibold
            color: Theme.secondary
        }

        Repeater {
            id: rows
            model: root.choices
            delegate: ColumnLayout {
                id: entry

                required property int index
                required property string kind
                required property string symbol
                required property string title
                required property string subtitle
                required property bool selected
                required property bool selectable

                Layout.fillWidth: true
                spacing: 0

                OutputDeviceRow {
                    Layout.fillWidth: true
                    symbol: entry.symbol
                    title: entry.title
                    subtitle: entry.subtitle
                    selected: entry.selected
                    selectable: entry.selectable
                    current: root.currentIndex === entry.index
                    onClicked: {
                        if (root.choices.choose(entry.index))
                            root.chosen();
                    }
                }
                Rectangle {
                    Layout.fillWidth: true
                    Layout.topMargin: 2
                    Layout.bottomMargin: 2
                    visible: entry.kind === "default"
                    implicitHeight: 1
                    color: Theme.separator
                }
            }
        }
    }
}
