import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A pane's scrolling column: its content stacked with 10 between, padded 28 at the sides, 4 above and 28
// below, clipped to the pane.
Flickable {
    id: root

    default property alias content: column.data
    /// The column holding the content, for finding where a part of it is.
    readonly property Item column: column

    clip: true
    contentWidth: width
    contentHeight: column.implicitHeight + 4 + 28
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar {}

    Behavior on contentY {
        id: scrolling
        enabled: false
        NumberAnimation {
            duration: 250
            easing.type: Easing.InOutQuad
        }
    }

    /// Scrolls, animated, so that `item` (inside the content) sits in the middle where the content allows.
    function centre(item: Item) {
        const middle = item.mapToItem(column, 0, 0).y + 4 + item.height / 2;
        const target = Math.max(0, Math.min(contentHeight - height, middle - height / 2));
        scrolling.enabled = true;
        contentY = target;
        scrolling.enabled = false;
    }

    ColumnLayout {
        id: column
        x: 28
        y: 4
        width: root.width - 56
        spacing: 10
    }
}
