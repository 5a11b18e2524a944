#include "support/manual_clock.h"
#include "ui/hover_rule.h"

#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

// One step of the pointer's or the user's doing, then time passing: "button", "off button", "list",
// "off list", "click", "close", or "" (only time passes).
struct Step {
    const char* action;
    int thenMilliseconds;
};

struct Case {
    const char* what;
    std::vector<Step> steps;
    bool showing;
    bool pending;
};

void act(HoverRule& rule, const char* action)
{
    const std::string a = action;
    if (a == "button")
        rule.setOverButton(true);
    else if (a == "off button")
        rule.setOverButton(false);
    else if (a == "list")
        rule.setOverList(true);
    else if (a == "off list")
        rule.setOverList(false);
    else if (a == "click")
        rule.toggle();
    else if (a == "close")
        rule.close();
}

} // namespace

TEST(HoverRule, OpensOnARestAndClosesAfterThePointerLeaves)
{
    const Case cases[] = {
        { "resting on the button opens the list", { { "button", 250 } }, true, false },
        { "not quite long enough", { { "button", 249 } }, false, true },
        { "a quick pass opens nothing", { { "button", 200 }, { "off button", 1000 } }, false, false },
        { "from the button into the list it stays open", { { "button", 250 }, { "off button", 100 }, { "list", 1000 } },
            true, false },
        { "leaving both closes it after 0.4 s",
            { { "button", 250 }, { "off button", 100 }, { "list", 100 }, { "off list", 400 } }, false, false },
        { "0.39 s after leaving it is still open", { { "button", 250 }, { "off button", 390 } }, true, true },
        { "coming back within 0.4 s keeps it open", { { "button", 250 }, { "off button", 300 }, { "button", 1000 } },
            true, false },
        { "a click opens at once", { { "click", 0 } }, true, false },
        { "a click on an open list closes it and resting on the button does not reopen it",
            { { "button", 250 }, { "click", 5000 } }, false, false },
        { "a click while the open delay runs is not undone by it",
            { { "button", 100 }, { "click", 0 }, { "click", 1000 } }, false, false },
        { "a list opened by a click closes once the pointer leaves everything",
            { { "click", 0 }, { "list", 100 }, { "off list", 400 } }, false, false },
        { "closing drops the pending delay", { { "button", 250 }, { "off button", 100 }, { "close", 1000 } }, false,
            false },
    };
    for (const Case& c : cases) {
        ManualClock clock;
        HoverRule rule;
        rule.setClock(&clock);
        for (const Step& step : c.steps) {
            act(rule, step.action);
            clock.advance(step.thenMilliseconds);
        }
        EXPECT_EQ(rule.showing(), c.showing) << c.what;
        EXPECT_EQ(rule.pending(), c.pending) << c.what;
        EXPECT_EQ(clock.scheduled(), c.pending ? 1 : 0) << c.what << ": at most one delay at a time";
    }
}

TEST(HoverRule, IsHighlightedWhileThePointerIsOnTheButtonOrTheListShows)
{
    ManualClock clock;
    HoverRule rule;
    rule.setClock(&clock);
    int changes = 0;
    QObject::connect(&rule, &HoverRule::highlightedChanged, [&] { ++changes; });
    rule.setOverButton(true);
    EXPECT_TRUE(rule.highlighted());
    clock.advance(250);
    rule.setOverButton(false);
    EXPECT_TRUE(rule.highlighted()) << "the list shows";
    clock.advance(400);
    EXPECT_FALSE(rule.highlighted());
    EXPECT_EQ(changes, 2);
}

TEST(HoverRule, ADestroyedRuleLeavesNothingScheduled)
{
    ManualClock clock;
    {
        HoverRule rule;
        rule.setClock(&clock);
        rule.setOverButton(true);
        EXPECT_EQ(clock.scheduled(), 1);
    }
    EXPECT_EQ(clock.scheduled(), 0);
    clock.advance(1000);
}
