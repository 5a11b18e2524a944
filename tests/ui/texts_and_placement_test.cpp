#include "ui/mixer_texts.h"
#include "ui/window_placement.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace sonaric;

TEST(MixerTexts, LevelsReadInWholePercentRoundedHalfAwayFromZero)
{
    const struct {
        double level;
        const char* text;
    } cases[] = {
        { 0.0, "0%" },
        { 0.004, "0%" },
        { 0.006, "1%" },
        { 0.125, "13%" },
        { 0.5, "50%" },
        { 1.0, "100%" },
        { double(0.3f), "30%" },
        { 2.0, "200%" },
        { 2.5, "250%" },
        { std::nan(""), "0%" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(MixerTexts::percent(c.level), c.text) << c.level;
}

TEST(MixerTexts, NameWhatTheyAreAbout)
{
    EXPECT_EQ(MixerTexts::pickerToolTip("Player", false, ""), "Choose where Player plays");
    EXPECT_EQ(MixerTexts::pickerToolTip("Player", true, "Headphones"), "Player plays on Headphones");
    EXPECT_EQ(MixerTexts::pickerToolTip("%2 Player", true, "Headphones"), "%2 Player plays on Headphones")
        << "an inserted name is not a template";
    EXPECT_EQ(MixerTexts::pickerHeading("Spotify"), "Play Spotify on");
    EXPECT_EQ(MixerTexts::noTabsText("Chrome"), "No tab is playing video or audio in Chrome.");
    EXPECT_EQ(MixerTexts::tabToolTip(true, ""), "Playing: Untitled tab");
    EXPECT_EQ(MixerTexts::tabToolTip(false, "News"), "Paused: News");
    EXPECT_EQ(MixerTexts::switchText(true, false), "Switch to native tab volume");
    EXPECT_EQ(MixerTexts::switchText(false, false), "Switch to native volume");
    EXPECT_EQ(MixerTexts::switchText(false, true), "Connecting…");
    EXPECT_EQ(MixerTexts::muteToolTip(true), "Unmute");
    EXPECT_EQ(MixerTexts::speakerSymbol(true), "speaker.slash.fill");
    EXPECT_EQ(MixerTexts::speakerSymbol(false), "speaker.wave.2.fill");
    EXPECT_EQ(MixerTexts::stepNumber(9), "10.");
}

TEST(WindowPlacement, PutsAWindowBelowItsControlElseAboveAlwaysOnTheScreen)
{
    const QRect screen(0, 0, 1000, 800);
    const QSize list(250, 200);
    const struct {
        const char* what;
        QRect anchor;
        QPoint corner;
    } cases[] = {
        { "below, centred", QRect(400, 100, 20, 20), QPoint(285, 124) },
        { "above when there is no room below", QRect(400, 700, 20, 20), QPoint(285, 496) },
        { "pushed in from the left edge", QRect(5, 100, 20, 20), QPoint(0, 124) },
        { "pushed in from the right edge", QRect(990, 100, 10, 20), QPoint(750, 124) },
    };
    for (const auto& c : cases)
        EXPECT_EQ(WindowPlacement::place(c.anchor, list, screen, 4), c.corner) << c.what;
    EXPECT_EQ(WindowPlacement::place(QRect(400, 300, 20, 20), QSize(250, 700), screen, 4), QPoint(285, 100))
        << "taller than the room on either side: the roomier side, kept on the screen";
}
