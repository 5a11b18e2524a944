import QtQuick
import QtTest
import Sonaric.Ui
import Sonaric.Test

TestCase {
    id: testCase

    readonly property int chrome: 1
    readonly property int spotify: 5 // NativeVolumeSource::spotify, after the five browsers

    name: "NativeRows"
    when: windowShown
    visible: true
    width: 400
    height: 700

    ViewFinder {
        id: finder
    }
    Component {
        id: mixerView
        MixerView {}
    }

    function makeView(): Item {
        Bench.start("quiet");
        const view = createTemporaryObject(mixerView, testCase, {
            model: Bench.model
        });
        verify(view !== null);
        return view;
    }
    function tabRows(row: Item): var {
        return finder.findAll(row, item => item.tabId !== undefined && item.visible);
    }

    function test_aBrowserWithoutTabsSaysSo() {
        const view = makeView();
        verify(finder.nativeRow(view, chrome) === null || !finder.nativeRow(view, chrome).visible);
        Bench.connectBrowser(chrome, []);
        const row = finder.nativeRow(view, chrome);
        verify(row.visible);
        compare(finder.named(row, "title").text, "Chrome tabs");
        verify(finder.named(row, "tabTag").visible);
        verify(!finder.named(row, "slider").visible);
        verify(!finder.named(row, "level").visible);
        verify(!finder.named(row, "mute").visible);
        const noTabs = finder.named(row, "noTabs");
        verify(noTabs.visible);
        compare(noTabs.text, "No tab is playing video or audio in Chrome.");
    }

    function test_tabsShowTheirTitlesAndPendingLevels() {
        const view = makeView();
        Bench.connectBrowser(chrome, [
            { id: "tab1", title: "", volume: 0.8 },
            { id: "tab2", title: "<img src=x onerror=alert(1)>", volume: 1.0, playing: false },
        ]);
        const row = finder.nativeRow(view, chrome);
        const tabs = tabRows(row);
        compare(tabs.length, 2);
        compare(finder.named(tabs[0], "title").text, "Untitled tab");
        compare(finder.named(tabs[1], "title").text, "<img src=x onerror=alert(1)>");
        compare(finder.named(tabs[1], "title").textFormat, Text.PlainText);
        compare(tabs[1].toolTip, "Paused: <img src=x onerror=alert(1)>");
        verify(!finder.named(row, "noTabs").visible);

        Bench.session(chrome).setTabVolume("tab1", 0.3);
        compare(finder.named(tabs[0], "level").text, "30%", "the change asked for, before the page confirms it");
        fuzzyCompare(finder.named(tabs[0], "slider").value, 0.3, 1e-6);
    }

    function test_aBusyConnectorTakesNoChanges() {
        const view = makeView();
        Bench.connectBrowser(chrome, [{ id: "tab1", title: "Video", volume: 0.5 }]);
        Bench.connectApp(spotify, 0.5, false);
        Bench.holdConnect(chrome);
        Bench.holdConnect(spotify);
        verify(!finder.named(finder.nativeRow(view, chrome), "tabs").enabled);
        const app = finder.nativeRow(view, spotify);
        verify(!finder.named(app, "mute").enabled);
        verify(!finder.named(app, "slider").enabled);
    }

    function test_anErrorHidesTheTagAndTheTabs() {
        const view = makeView();
        Bench.connectApp(spotify, 0.4, false);
        const app = finder.nativeRow(view, spotify);
        verify(finder.named(app, "appTag").visible);
        compare(finder.named(app, "level").text, "40%");
        Bench.failRefresh(spotify, "Spotify isn't open.");
        verify(!finder.named(app, "appTag").visible);
        verify(finder.named(app, "slider").visible);
        verify(!finder.named(app, "slider").enabled);
        compare(finder.named(app, "error").text, "Spotify isn't open.");
        compare(finder.named(app, "errorHint").text, "See Settings > Connectors for steps to fix it.");

        Bench.connectBrowser(chrome, [{ id: "tab1", title: "Video", volume: 0.5 }]);
        Bench.failRefresh(chrome, "Google Chrome isn't open.");
        const browser = finder.nativeRow(view, chrome);
        verify(!finder.named(browser, "tabTag").visible);
        verify(!finder.named(browser, "tabs").visible);
        verify(!finder.named(browser, "noTabs").visible);
        verify(finder.named(browser, "error").visible);
    }
}
