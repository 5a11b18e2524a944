#pragma once

// A native controller whose answers a test decides: each operation is recorded, and answered either at once
// with a prepared result or later, when the test releases it.

#include "native/native_volume_controlling.h"

#include <QElapsedTimer>

#include <deque>
#include <memory>

namespace sonaric::test
{

class FakeController final : public NativeVolumeControlling
{
public:
    enum class Kind { connect, read, set, finish };
    struct Call {
        Kind kind;
        NativeVolumeChanges desired; ///< for set
        NativeVolumeConnection current; ///< for read and set
        CancellationToken cancellation;
        qint64 atMilliseconds = 0; ///< when the call arrived, on the shared clock
        Completion done;
        std::function<void()> finished; ///< for finish
    };

    /// What the next operations answer; an empty queue holds the call until release().
    std::deque<NativeVolumeResult> answers;
    std::vector<Call> calls;
    QElapsedTimer clock;

    FakeController() { clock.start(); }

    void connect(CancellationToken cancellation, Completion done) override
    {
        record({ Kind::connect, {}, {}, cancellation, 0, done, {} });
    }
    void read(const NativeVolumeConnection& current, CancellationToken cancellation, Completion done) override
    {
        record({ Kind::read, {}, current, cancellation, 0, done, {} });
    }
    void set(const NativeVolumeChanges& desired, const NativeVolumeConnection& current, CancellationToken cancellation,
        Completion done) override
    {
        record({ Kind::set, desired, current, cancellation, 0, done, {} });
    }
    void finishPendingOperations(std::function<void()> done) override
    {
        Call call { Kind::finish, {}, {}, {}, clock.elapsed(), {}, done };
        calls.push_back(call);
        if (holdFinish)
            return;
        done();
    }

    /// Answers the oldest held call with `result`.
    void release(const NativeVolumeResult& result)
    {
        for (auto& call : calls) {
            if (call.done) {
                auto done = std::exchange(call.done, nullptr);
                done(result);
                return;
            }
        }
    }
    int count(Kind kind) const
    {
        return int(std::count_if(calls.begin(), calls.end(), [&](const Call& c) { return c.kind == kind; }));
    }
    const Call* last(Kind kind) const
    {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it)
            if (it->kind == kind)
                return &*it;
        return nullptr;
    }

    bool holdFinish = false;

private:
    void record(Call call)
    {
        call.atMilliseconds = clock.elapsed();
        if (!answers.empty()) {
            const NativeVolumeResult answer = answers.front();
            answers.pop_front();
            call.done(answer);
            call.done = nullptr;
        }
        calls.push_back(std::move(call));
    }
};

inline NativeVolumeConnection appConnection(float volume, bool muted = false)
{
    return { NativeVolumeState { volume, muted }, {} };
}

} // namespace sonaric::test
