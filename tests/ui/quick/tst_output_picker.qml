import QtQuick
import QtQuick.Window
import QtTest
import Sonaric.Ui
import Sonaric.Test

TestCase {
    id: testCase

    readonly property string player: "com.example.player"

    name: "OutputPicker"
    when: windowShown
    visible: true
    width: 400
    height: 400

    ViewFinder {
        id: finder
    }
    Component {
        id: listComponent
        OutputDeviceList {
            appName: "Player"
            choices: OutputDeviceListModel {
                mixer: Bench.model
                appID: "com.example.player"
            }
        }
    }
    Component {
        id: buttonComponent
        OutputPickerButton {
            x: 100
            y: 100
            appID: "com.example.player"
            appName: "Player"
        }
    }
    Component {
        id: popoverComponent
        Window {
            property alias picker: picker
            width: 100
            height: 60
            visible: true
            OutputPickerButton {
                id: picker
                x: 40
                y: 20
                mixer: Bench.model
                appID: "com.example.player"
                appName: "Player"
            }
        }
    }
    SignalSpy {
        id: chosen
        signalName: "chosen"
    }

    function rows(list: Item): var {
        return finder.findAll(list, item => item.selectable !== undefined && item.current !== undefined);
    }
    function rowTitled(list: Item, title: string): Item {
        return rows(list).find(row => row.title === title);
    }

    function test_theListOfChoices() {
        Bench.start("desk");
        const list = createTemporaryObject(listComponent, testCase);
        chosen.target = list;
        chosen.clear();
        compare(finder.named(list, "heading").text, "Play Player on");
        compare(rows(list).map(row => row.title), ["System default", "Speakers", "Headphones", "Living Room TV"]);
        const systemDefault = rowTitled(list, "System default");
        compare(systemDefault.subtitle, "Speakers");
        verify(finder.named(systemDefault, "checkmark").visible);

        mouseClick(rowTitled(list, "Living Room TV"));
        compare(chosen.count, 1);
        compare(Bench.model.routes[player].uid, "tv");
        verify(!finder.named(systemDefault, "checkmark").visible);

        Bench.removeDevice("tv");
        waitForRendering(list);
        const gone = rows(list)[rows(list).length - 1];
        compare(gone.title, "Living Room TV");
        compare(gone.subtitle, "Not connected. Playing on the system default for now.");
        verify(gone.selected);
        verify(!gone.enabled);
        mouseClick(gone);
        compare(chosen.count, 1, "the gone device cannot be chosen");
        compare(Bench.model.routes[player].uid, "tv");

        mouseClick(rowTitled(list, "System default"));
        compare(chosen.count, 2);
        verify(Bench.model.routes[player] === undefined);
    }

    function test_theHoverRuleOnTheButton() {
        Bench.start("desk");
        const picker = createTemporaryObject(buttonComponent, testCase, {
            mixer: Bench.model
        });
        picker.hoverRule.clock = Bench.clock;
        compare(picker.toolTip, "Choose where Player plays");
        compare(picker.color, Theme.secondary);

        mouseMove(picker, 5, 5);
        verify(picker.hoverRule.overButton);
        compare(picker.color, Theme.accent, "highlighted while the pointer is on it");
        Bench.clock.advance(249);
        verify(!picker.listShowing);
        Bench.clock.advance(1);
        verify(picker.listShowing);
        verify(picker.listWindow.visible);

        mouseMove(testCase, 350, 350);
        Bench.clock.advance(399);
        verify(picker.listShowing);
        Bench.clock.advance(1);
        verify(!picker.listShowing);
        verify(!picker.listWindow.visible);
        compare(picker.color, Theme.secondary);

        mouseClick(picker);
        verify(picker.listShowing, "a click opens at once");
        mouseClick(picker);
        verify(!picker.listShowing);
        Bench.clock.advance(5000);
        verify(!picker.listShowing, "and stays closed while the pointer rests on the button");

        Bench.model.setRoute("phones", player);
        mouseMove(testCase, 350, 350);
        compare(picker.color, Theme.accent, "a route of its own shows even with the pointer elsewhere");
        compare(picker.toolTip, "Player plays on Headphones");
    }

    function test_aChoiceOrEscapeClosesTheList() {
        Bench.start("desk");
        const picker = createTemporaryObject(buttonComponent, testCase, {
            mixer: Bench.model
        });
        mouseClick(picker);
        verify(picker.listShowing);
        const list = picker.listWindow.contentItem.children[0];
        mouseClick(rowTitled(list, "Headphones"));
        verify(!picker.listShowing);
        compare(Bench.model.routes[player].uid, "phones");

        mouseClick(picker);
        verify(picker.listShowing);
        picker.forceActiveFocus();
        keyClick(Qt.Key_Down);
        keyClick(Qt.Key_Down);
        compare(list.currentIndex, 1);
        keyClick(Qt.Key_Return);
        verify(!picker.listShowing);
        compare(Bench.model.routes[player].uid, "spk");

        mouseClick(picker);
        keyClick(Qt.Key_Escape);
        verify(!picker.listShowing);
    }

    function test_theListClosesWithThePopover() {
        Bench.start("desk");
        const popover = createTemporaryObject(popoverComponent, testCase);
        waitForRendering(popover.contentItem);
        mouseClick(popover.picker);
        verify(popover.picker.listShowing);
        verify(popover.picker.listWindow.visible);
        popover.hide();
        verify(!popover.picker.listShowing);
        verify(!popover.picker.listWindow.visible);
    }
}
