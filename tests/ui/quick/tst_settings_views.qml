import QtQuick
import QtTest
import Sonaric.Ui
import Sonaric.Test

// The settings window's views on the bench: the sidebar, the General pane with the simulated login item, the
// Connectors pane with connectors the test answers for, and the update card.
TestCase {
    id: testCase

    readonly property int chrome: 1
    readonly property int spotify: 5
    // LoginItemService::Status
    readonly property int notRegistered: 0
    readonly property int enabled: 1
    readonly property int requiresApproval: 2

    name: "SettingsViews"
    when: windowShown
    visible: true
    width: 760
    height: 600

    ViewFinder {
        id: finder
    }
    Component {
        id: windowView
        SettingsWindowView {}
    }
    Component {
        id: updateCard
        UpdateCard {
            width: 176
        }
    }

    function makeView(): Item {
        SettingsBench.start("desk");
        const view = createTemporaryObject(windowView, testCase, {
            navigation: SettingsBench.navigation,
            model: Bench.model,
            launchAtLogin: SettingsBench.launchAtLogin,
            connectors: SettingsBench.connectors,
            width: 760,
            height: 600
        });
        verify(view !== null);
        return view;
    }
    function pane(view: Item, index: int): Item {
        return finder.named(view, "pane" + index);
    }
    function boostChoices(view: Item): var {
        return finder.findAll(pane(view, 0), item => item.percentText !== undefined);
    }
    function connectorRows(view: Item): var {
        return finder.findAll(pane(view, 1), item => item.primaryTitle !== undefined);
    }
    function showConnectors(view: Item) {
        SettingsBench.navigation.pane = 1;
        tryVerify(() => pane(view, 1).opacity === 1 && !pane(view, 0).visible, 2000);
    }
    function rowOf(view: Item, source: int): Item {
        return connectorRows(view).find(row => row.session.source === source) ?? null;
    }

    // The sidebar

    function test_sidebarSwitchesPanesAndShowsTheVersion() {
        const view = makeView();
        compare(finder.named(view, "version").text, "Sonaric ", "no updater: nothing after the name");
        verify(!finder.named(view, "updateCard").visible, "no update card without an available update");
        verify(finder.named(view, "sidebarItem0").selected);
        verify(pane(view, 0).visible);
        tryVerify(() => !pane(view, 1).visible);

        mouseClick(finder.named(view, "sidebarItem1"));
        compare(SettingsBench.navigation.pane, 1);
        verify(finder.named(view, "sidebarItem1").selected);
        verify(!finder.named(view, "sidebarItem0").selected);
        tryVerify(() => pane(view, 1).opacity === 1 && pane(view, 1).y === 0, 2000, "the pane fades in and rises");
        tryVerify(() => !pane(view, 0).visible);
        const selection = finder.named(view, "selection");
        tryVerify(() => Math.abs(selection.y - (60 + finder.named(view, "sidebarItem1").y)) < 0.5, 2000,
            "the highlight slides to the item");
    }

    function test_aPaneSetFromOutsideIsShownLikeAClick() {
        const view = makeView();
        SettingsBench.navigation.pane = 1;
        tryVerify(() => pane(view, 1).opacity === 1 && !pane(view, 0).visible, 2000);
    }

    // The General pane

    function test_theBoostTileOfTheModelsLimitIsSelected() {
        const view = makeView();
        const choices = boostChoices(view);
        compare(choices.map(choice => choice.percentText), ["200%", "250%"]);
        compare(choices.map(choice => choice.Accessible.name), ["Maximum boost 200%", "Maximum boost 250%"]);
        const cases = [
            { max: 2.0, selected: [true, false] },
            { max: 2.5, selected: [false, true] },
        ];
        for (const c of cases) {
            Bench.model.setMaxVolume(c.max);
            compare(choices.map(choice => choice.selected), c.selected, "limit " + c.max);
            compare(choices.map(choice => finder.named(choice, "caption").font.weight === Font.DemiBold), c.selected);
        }
        mouseClick(choices[0]);
        compare(Bench.model.maxVolume, 2.0, "choosing a tile sets the model's limit");
        tryVerify(() => finder.named(choices[0], "ring").opacity === 1 && finder.named(choices[1], "ring").opacity === 0, 3000);
    }

    function test_theLaunchSwitchShowsWhatTheDesktopRecorded() {
        const view = makeView();
        const general = pane(view, 0);
        const toggle = finder.named(general, "launchSwitch");
        verify(!toggle.checked);
        verify(!finder.named(general, "approvalRow").visible);
        verify(!finder.named(general, "launchError").visible);

        mouseClick(toggle);
        compare(SettingsBench.launchAtLogin.status, enabled);
        verify(toggle.checked);

        SettingsBench.setLoginStatus(notRegistered);
        verify(!toggle.checked, "a removal elsewhere shows once read, also after a click");

        SettingsBench.setStatusAfterRegister(requiresApproval);
        mouseClick(toggle);
        verify(toggle.checked, "waiting for approval counts as on");
        const approval = finder.named(general, "approvalRow");
        verify(approval.visible);
        compare(approval.title, "Needs approval");
        const open = finder.find(approval, item => item.text === "Open Autostart Folder");
        verify(open !== null);
        mouseClick(open);
        compare(SettingsBench.loginItemsOpened, 1);
    }

    function test_aFailedChangeShowsItsErrorUntilTheNextToggle() {
        const view = makeView();
        const general = pane(view, 0);
        const toggle = finder.named(general, "launchSwitch");
        const message = "Could not write <b>/home/x/.config/autostart</b>: Permission denied";
        SettingsBench.failNextLoginCall(message);
        mouseClick(toggle);
        verify(!toggle.checked, "the switch goes back: nothing was registered");
        const error = finder.named(general, "launchError");
        verify(error.visible);
        compare(error.text, message);
        compare(error.textFormat, TextEdit.PlainText);
        verify(error.readOnly && error.selectByMouse, "the message can be selected and copied");
        mouseClick(toggle);
        verify(!error.visible);
        verify(toggle.checked);
    }

    // The Connectors pane

    function test_onlyInstalledOrConnectedConnectorsAreListed() {
        const view = makeView();
        showConnectors(view);
        // On the desk, Chrome and Spotify are running; Safari and the rest are not installed.
        let rows = connectorRows(view);
        compare(rows.map(row => row.session.source), [chrome, spotify]);
        const dividers = finder.findAll(pane(view, 1), item => item.objectName === "divider");
        compare(dividers.map(d => d.visible), [false, true], "the first listed row has no divider even with Safari hidden");
        compare(finder.named(rows[0], "title").text, "Chrome tabs");
        compare(rows.map(row => finder.named(row, "primary").text), ["Connect", "Connect"]);
    }

    function test_whileConnectingThePrimaryButtonWaits() {
        const view = makeView();
        showConnectors(view);
        const row = rowOf(view, spotify);
        const primary = finder.named(row, "primary");
        const disconnect = finder.named(row, "disconnect");

        Bench.holdConnect(spotify);
        compare(primary.text, "Connecting...");
        verify(!primary.enabled);
        compare(primary.opacity, 0.5, "a disabled button is drawn at half opacity");
        verify(!disconnect.visible);
    }

    function test_buttonsFollowTheSession() {
        const view = makeView();
        showConnectors(view);
        const failing = rowOf(view, spotify);
        Bench.failNextConnect(spotify, "Spotify did not answer.");
        mouseClick(finder.named(failing, "primary"));
        Bench.settle();
        compare(finder.named(failing, "primary").text, "Try Again");
        const steps = finder.named(failing, "steps");
        verify(steps.visible);
        compare(finder.named(steps, "message").text, "Spotify did not answer.");
        compare(finder.named(steps, "message").textFormat, TextEdit.PlainText);

        Bench.connectApp(spotify, 0.5);
        verify(!finder.named(failing, "steps").visible);
        verify(finder.named(failing, "badge").visible);
        verify(finder.named(failing, "disconnect").visible);
        verify(!finder.named(failing, "primary").visible);
        compare(finder.named(failing, "connectedText").text, "Connected. The slider is in the mixer.");

        Bench.failRefresh(spotify, "Lost the connection.");
        verify(finder.named(failing, "disconnect").visible, "a connected row with an error offers both");
        verify(finder.named(failing, "primary").visible);
        compare(finder.named(failing, "primary").text, "Try Again");
        verify(!finder.named(failing, "badge").visible);

        Bench.holdConnect(spotify);
        verify(!finder.named(failing, "disconnect").enabled, "Disconnect is disabled while busy too");
    }

    function test_returnConnectsTheHighlightedConnector() {
        const view = makeView();
        SettingsBench.navigation.pane = 1;
        SettingsBench.navigation.highlighted = spotify;
        const row = rowOf(view, spotify);
        verify(row.highlighted);
        verify(!rowOf(view, chrome).highlighted);
        tryVerify(() => row.color.a > 0.1, 2000, "the highlighted row is tinted");
        verify(!Bench.session(spotify).busy);
        keyClick(Qt.Key_Return);
        verify(Bench.session(spotify).busy, "Return starts connecting the highlighted connector");
        verify(!Bench.session(chrome).busy);
    }

    function test_openingAtAConnectorScrollsItsRowToTheMiddle() {
        SettingsBench.start("demo");
        const view = createTemporaryObject(windowView, testCase, {
            navigation: SettingsBench.navigation,
            model: Bench.model,
            launchAtLogin: SettingsBench.launchAtLogin,
            connectors: SettingsBench.connectors,
            width: 760,
            height: 320
        });
        showConnectors(view);
        const scroll = finder.find(pane(view, 1), item => item.centre !== undefined && item.connectors !== undefined);
        compare(scroll.contentY, 0);
        const appleTV = 7;
        const row = rowOf(view, appleTV);
        verify(row !== null, "the demo lists Apple TV");
        SettingsBench.navigation.highlighted = appleTV;
        tryVerify(() => {
            const middle = row.mapToItem(scroll, 0, row.height / 2).y;
            return scroll.contentY > 0 && Math.abs(middle - scroll.height / 2) < 2 || scroll.atYEnd;
        }, 2000, "scrolled so the row is in the middle, or as far as the content goes");
        verify(row.highlighted);
    }

    // The update card

    function test_updateCardStates() {
        const cases = [
            { what: "offered", busy: false, failure: "", button: "Update and Relaunch", enabled: true },
            { what: "updating", busy: true, failure: "", button: "Updating…", enabled: false },
            { what: "failed", busy: false, failure: "The download was not the one published. <a href=x>Details</a>", button: "Update and Relaunch", enabled: true },
        ];
        for (const c of cases) {
            const card = createTemporaryObject(updateCard, testCase, { version: "1.4", busy: c.busy, failure: c.failure });
            compare(finder.named(card, "title").text, "Version 1.4 is available", c.what);
            const button = finder.named(card, "installButton");
            compare(button.text, c.button, c.what);
            compare(button.enabled, c.enabled, c.what);
            const failure = finder.named(card, "failure");
            compare(failure.visible, c.failure.length > 0, c.what);
            compare(failure.text, c.failure);
            compare(failure.textFormat, TextEdit.PlainText);
            let installs = 0;
            card.install.connect(() => ++installs);
            mouseClick(button);
            compare(installs, c.enabled ? 1 : 0, c.what);
        }
    }

    function test_aLongFailureWrapsAndTheCardGrows() {
        const card = createTemporaryObject(updateCard, testCase, { version: "1.4" });
        const before = card.implicitHeight;
        card.failure = "The update could not be installed because the folder it lives in cannot be written; the download was opened in the browser instead.";
        tryVerify(() => card.implicitHeight > before + 20, 2000, "grows by more than one line");
        const failure = finder.named(card, "failure");
        verify(failure.width <= card.width);
    }
}
