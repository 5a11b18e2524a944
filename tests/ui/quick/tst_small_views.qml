import QtQuick
import QtTest
import Sonaric.Ui

TestCase {
    id: testCase

    name: "SmallViews"
    when: windowShown
    visible: true
    width: 400
    height: 400

    ViewFinder {
        id: finder
    }
    Component {
        id: pillComponent
        PillButton {
            x: 50
            y: 50
            text: "Switch"
        }
    }
    Component {
        id: stepsComponent
        StepsView {
            width: 300
        }
    }

    function test_pillFills() {
        const pill = createTemporaryObject(pillComponent, testCase);
        compare(pill.fill, 0.16);
        mouseMove(pill, 5, 5);
        compare(pill.fill, 0.24, "hovered");
        mousePress(pill, 5, 5);
        compare(pill.fill, 0.32, "pressed while hovered");
        mouseRelease(pill, 5, 5);
        compare(pill.fill, 0.24);
        mouseMove(testCase, 300, 300);
        compare(pill.fill, 0.16);
        compare(pill.opacity, 1);
        pill.enabled = false;
        compare(pill.opacity, 0.6);
    }

    function test_stepsView() {
        const onlyMessage = createTemporaryObject(stepsComponent, testCase, {
            message: "Spotify isn't open."
        });
        verify(finder.named(onlyMessage, "message").visible);
        compare(finder.findAll(onlyMessage, item => item.text !== undefined && item.text === "1.").length, 0);

        const steps = [];
        for (let i = 0; i < 11; ++i)
            steps.push("Step " + (i + 1) + (i === 3 ? " which is long enough to need a second line in a view this narrow" : ""));
        const view = createTemporaryObject(stepsComponent, testCase, {
            steps: steps
        });
        verify(!finder.named(view, "message").visible);
        const texts = finder.findAll(view, item => item.text !== undefined && item.text.startsWith("Step "));
        compare(texts.length, 11);
        for (const text of texts)
            compare(text.mapToItem(view, 0, 0).x, texts[0].mapToItem(view, 0, 0).x, "the steps line up past nine");
        verify(texts[3].lineCount > 1, "a long step wraps");
        compare(texts[10].textFormat, TextEdit.PlainText);
    }
}
