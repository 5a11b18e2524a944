// The IO block runs on a real-time thread: it must allocate nothing, take no lock and make no system call.
// This program counts what the block does on a watched thread (support/realtime_watch.h), and runs the block
// in a child process under strict seccomp, where any system call but read, write and exit kills the process.

#include "audio/app_tap.h"

#include "audio/buffers.h"
#include "support/realtime_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <linux/seccomp.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace sonaric;
using namespace sonaric::test;
using namespace sonaric::test::realtime;

namespace
{

// A cycle mix that visits every path of the block: ramps, steady gains, limiting and release, short input.
struct Workload {
    Buffers in { { 2, 2 }, 512 };
    Buffers out { { 1, 1, 2 }, 512 };
    RTState state { 1.0f };
    AudioDeviceIOBlock block = AppTap::makeIOBlock(&state);

    Workload()
    {
        state.inputOffset = 1;
        state.releaseCoeff = AppTap::releaseCoefficient(48000);
        for (std::size_t i = 0; i < in.samples(1).size(); ++i)
            in.samples(1)[i] = (i % 7) / 7.0f - 0.5f;
    }
    void run(int cycles)
    {
        const float gains[] = { 0.5f, 0.5f, 2.5f, 2.5f, 0.0f, 1.3f };
        const AudioTimeStamp now;
        for (int c = 0; c < cycles; ++c) {
            state.targetGain.store(gains[c % 6], std::memory_order_relaxed);
            in.list()->mBuffers[1].mDataByteSize = (c % 5 == 0 ? 300 : 512) * 2 * sizeof(float);
            block(&now, in.list(), &now, out.list(), &now);
        }
    }
};

} // namespace

TEST(TapIORealTime, AllocatesNothingAndTakesNoLock)
{
    Workload work;
    allocations = 0;
    locks = 0;
    watching = true;
    work.run(10000);
    watching = false;
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(locks, 0);

    // The counters do see what they are meant to see.
    watching = true;
    ::operator delete(::operator new(16));
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&mutex);
    pthread_mutex_unlock(&mutex);
    watching = false;
    EXPECT_EQ(allocations, 2);
    EXPECT_EQ(locks, kLocksCounted ? 1 : 0);
}

TEST(TapIORealTime, MakesNoSystemCall)
{
    Workload work;
    work.run(1); // touch every page before the filter goes up
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_STRICT) != 0)
            _exit(3);
        work.run(10000);
        syscall(SYS_exit, 0); // the only way out that strict mode allows
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "this kernel offers no strict seccomp";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the block made a system call (child ended with signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0)
        << ")";
}
