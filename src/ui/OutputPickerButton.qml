import QtQuick
import QtQuick.Window
import Sonaric.Ui

// The output button at the end of a row: opens the list of output devices in a small window of its own beside
// the button, on a click or when the pointer rests on the button, and routes the application to the device
// chosen. The list closes on a choice, on Escape, when the pointer has left both button and list for a
// moment, and when the window holding the button hides.
SymbolButton {
    id: root

    required property MixerModel mixer
    /// The key of the application's route: an application's id, or a connector's application identifier.
    required property string appID
    required property string appName
    /// The list's window is shown (for tests and the screenshots).
    readonly property alias listShowing: hover.showing
    readonly property alias hoverRule: hover
    readonly property alias listWindow: listWindow
    /// The window holding the button (the popover) is shown; the list goes when it hides.
    readonly property bool inShownWindow: Window.visibility !== Window.Hidden

    onInShownWindowChanged: {
        if (!inShownWindow) {
            hover.overButton = false;
            hover.close();
        }
    }

    symbol: "airplayaudio"
    color: choices.routed || hover.highlighted ? Theme.accent : Theme.secondary
    toolTip: hover.showing ? "" : MixerTexts.pickerToolTip(appName, choices.routed, choices.routeName)
    onClicked: hover.toggle()

    background: Rectangle {
        anchors.fill: parent
        anchors.margins: -3
        radius: 5
        color: Theme.tint(Theme.accent, hover.highlighted ? 0.16 : 0)
        border.width: root.visualFocus ? 2 : 0
        border.color: Theme.accent

        Behavior on color {
            ColorAnimation {
                duration: 120
                easing.type: Easing.OutQuad
            }
        }
    }

    HoverRule {
        id: hover
    }
    OutputDeviceListModel {
        id: choices
        mixer: root.mixer
        appID: root.appID
    }
    HoverHandler {
        onHoveredChanged: hover.overButton = hovered
    }

    // With the list open, the keyboard works it from the button: arrows move, Return chooses, Escape closes.
    Keys.onPressed: event => {
        if (!hover.showing)
            return;
        if (event.key === Qt.Key_Down || event.key === Qt.Key_Up) {
            list.moveCurrent(event.key === Qt.Key_Down ? 1 : -1);
            event.accepted = true;
        } else if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
            list.chooseCurrent();
            event.accepted = true;
        }
    }
    Shortcut {
        sequence: "Esc"
        enabled: hover.showing
        onActivated: hover.close()
    }

    Connections {
        target: hover
        function onShowingChanged() {
            if (hover.showing) {
                list.currentIndex = -1;
                const corner = WindowPlacement.placeBeside(root, Qt.size(listWindow.width, listWindow.height));
                listWindow.x = corner.x;
                listWindow.y = corner.y;
                listWindow.show();
            } else {
                listWindow.hide();
            }
        }
    }
    Component.onDestruction: hover.close()

    Window {
        id: listWindow

        flags: Qt.ToolTip | Qt.FramelessWindowHint | Qt.WindowDoesNotAcceptFocus
        transientParent: root.Window.window
        width: list.implicitWidth
        height: list.implicitHeight
        color: Theme.background
        onVisibleChanged: {
            if (!visible)
                hover.overList = false;
        }

        OutputDeviceList {
            id: list
            anchors.fill: parent
            choices: choices
            appName: root.appName
            onChosen: hover.close()

            HoverHandler {
                onHoveredChanged: hover.overList = hovered
            }
        }
    }
}
