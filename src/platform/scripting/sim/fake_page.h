#pragma once

// What the page media script finds in a fake browser tab, and how the tab answers one run of it. Shared by the
// fake Safari and the fake Chromium-family browsers, so both answer a page the same way.

#include <QString>

#include <optional>

namespace sonaric
{

/// An error raised by a tab or an application: a number and, when it has one, a message.
struct FakeScriptError {
    int number = 0;
    std::optional<QString> message;
};

/// What the page media script finds in a tab: one controllable media with its state.
struct FakePage {
    QString key; ///< the tab key the page holds; an invalid one is replaced on the next evaluation
    QString title;
    bool playing = true;
    bool visible = true;
    int volume = 100; ///< percent
    bool muted = false;
};

struct FakeTab {
    QString url; ///< null: the tab has no URL (missing value)
    std::optional<FakePage> page; ///< absent: the page script replies "skip"
    std::optional<QString> rawReply; ///< a verbatim reply (for hostile pages); wins over `page`
    bool missingValue = false; ///< the evaluation gives no result at all
    std::optional<FakeScriptError> error; ///< the evaluation fails with this error
    bool closesBeforeExecute = false; ///< the tab is gone when the script is run (-1728)
    int evaluations = 0; ///< how often the page script ran here
    std::optional<bool> lastPageWorld; ///< `pageWorld` of the last script run here
    QString lastWant; ///< the `want` object literal of the last script run here
};

/// What one evaluation of the page script in a tab gives.
struct PageEvaluation {
    std::optional<QString> reply; ///< absent: missing value
    std::optional<FakeScriptError> error;
};

/// Runs "the page media script" in a fake tab: reads `pageWorld` and `want` from the script's head, applies the
/// entry for the tab's key and replies as the real script would. A page whose key is not a valid tab key gets
/// "simtab<n>", n counted by `keyCounter`, so keys stay deterministic across every browser of one service.
PageEvaluation evaluatePage(FakeTab& tab, const QString& script, int& keyCounter);

} // namespace sonaric
