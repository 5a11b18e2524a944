import QtQuick
import QtTest
import Sonaric.Ui
import Sonaric.Test

TestCase {
    id: testCase

    readonly property int spotify: 5 // NativeVolumeSource::spotify, after the five browsers
    readonly property string player: "com.example.player"

    name: "MixerView"
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
    SignalSpy {
        id: openConnector
        signalName: "openConnector"
    }

    function makeView(scene: string, notice: string): Item {
        Bench.start(scene);
        const view = createTemporaryObject(mixerView, testCase, {
            model: Bench.model,
            notice: notice
        });
        verify(view !== null);
        waitForRendering(view);
        return view;
    }

    function test_levelLabels_data() {
        return [
            { tag: "no stored level", level: -1, text: "100%", value: 1 },
            { tag: "0.004", level: 0.004, text: "0%", value: 0.004 },
            { tag: "0.006", level: 0.006, text: "1%", value: 0.006 },
            { tag: "0.5", level: 0.5, text: "50%", value: 0.5 },
            { tag: "the end stop", level: 2.0, text: "200%", value: 2.0 },
        ];
    }
    function test_levelLabels(data) {
        const view = makeView("desk", "");
        Bench.model.setMaxVolume(2.0);
        if (data.level >= 0)
            Bench.model.setVolume(player, data.level);
        const row = finder.appRow(view, "Player");
        const slider = finder.named(row, "slider");
        compare(finder.named(row, "level").text, data.text);
        compare(slider.to, 2.0);
        fuzzyCompare(slider.value, data.value, 1e-6);
    }

    function test_muteDisablesTheSliderAndKeepsTheLevel() {
        const view = makeView("desk", "");
        Bench.model.setVolume(player, 0.5);
        const row = finder.appRow(view, "Player");
        const mute = finder.named(row, "mute");
        compare(mute.toolTip, "Mute");
        compare(mute.symbol, "speaker.wave.2.fill");
        mouseClick(mute);
        verify(Bench.model.isMuted(player));
        verify(!finder.named(row, "slider").enabled);
        compare(mute.toolTip, "Unmute");
        compare(mute.symbol, "speaker.slash.fill");
        compare(finder.named(row, "level").text, "50%");
        mouseClick(mute);
        verify(finder.named(row, "slider").enabled);
    }

    function test_noNoticeNoLine() {
        verify(!finder.named(makeView("desk", ""), "notice").visible);
    }

    function test_emptyStateOnlyWithoutAnyRow() {
        const view = makeView("quiet", "");
        const empty = finder.named(view, "emptyState");
        verify(empty.visible);
        compare(empty.text, "Nothing is playing right now.");
        Bench.connectApp(spotify, 0.5, false);
        verify(!empty.visible);
        verify(finder.nativeRow(view, spotify).visible);
    }

    function test_namesAndNoticeArePlainText() {
        const view = makeView("hostile", "<b>simulated</b>");
        const notice = finder.named(view, "notice");
        compare(notice.text, "<b>simulated</b>");
        compare(notice.textFormat, Text.PlainText);
        for (const name of ["<img src=x onerror=alert(1)>", "<b>bold</b> &amp; more"]) {
            const row = finder.appRow(view, name);
            verify(row !== null, name);
            const label = finder.named(row, "name");
            compare(label.text, name);
            compare(label.textFormat, Text.PlainText);
        }
    }

    function test_aDragSurvivesAnotherApplicationArriving() {
        const view = makeView("desk", "");
        const slider = finder.named(finder.appRow(view, "Player"), "slider");
        const y = slider.height / 2;
        mousePress(slider, slider.width * slider.visualPosition, y);
        mouseMove(slider, slider.width * 0.2, y);
        Bench.addPlayer(500, "com.example.radio", "Radio");
        verify(finder.appRow(view, "Radio") !== null);
        verify(slider.pressed, "the same slider, still held");
        mouseMove(slider, slider.width * 0.3, y);
        mouseRelease(slider, slider.width * 0.3, y);
        verify(Math.abs(Bench.model.level(player) - slider.value) < 1e-6);
        verify(Bench.model.level(player) > 0.4 && Bench.model.level(player) < 1.0, Bench.model.level(player));
    }

    function test_theKeyboardWorksTheRow() {
        const view = makeView("desk", "");
        const row = finder.appRow(view, "Player");
        finder.named(row, "slider").forceActiveFocus();
        keyClick(Qt.Key_Right);
        compare(finder.named(row, "level").text, "105%", "one step past the snap to 100%");
        keyClick(Qt.Key_Left);
        keyClick(Qt.Key_Left);
        compare(finder.named(row, "level").text, "95%");
        keyClick(Qt.Key_Tab);
        const mute = finder.named(row, "mute");
        verify(mute.activeFocus, "Tab goes on to the mute button");
        keyClick(Qt.Key_Space);
        verify(Bench.model.isMuted(player));
    }

    function test_switchingToNativeVolume() {
        const view = makeView("desk", "");
        openConnector.target = view;
        openConnector.clear();
        const button = finder.named(finder.appRow(view, "Spotify"), "switch");
        verify(button.visible);
        compare(button.text, "Switch to native volume");
        compare(finder.named(finder.appRow(view, "Google Chrome"), "switch").text, "Switch to native tab volume");
        verify(!finder.named(finder.appRow(view, "Player"), "switch").visible, "no connector for it");

        Bench.failNextConnect(spotify, "Spotify isn't open.");
        mouseClick(button);
        Bench.settle();
        compare(openConnector.count, 1, "a failed connect opens the connector's settings");
        compare(openConnector.signalArguments[0][0], spotify);

        Bench.holdConnect(spotify);
        compare(button.text, "Connecting…");
        verify(!button.enabled);
        verify(finder.named(button, "spinner").visible);
    }
}
