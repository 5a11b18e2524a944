#pragma once

// Helpers for tests that run against a real sound server started by with_sound_server.sh.

#include "platform/audio/linux/pulse_audio_hardware.h"
#include "platform/audio/linux/pulse_snapshot.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <sys/types.h>
#include <vector>

namespace sonaric::test
{

/// Peak and RMS of what a sink played.
struct Level {
    float peak = 0;
    float rms = 0;
};

/// A child process, killed (SIGKILL) and reaped when the object goes.
class ChildProcess
{
public:
    ChildProcess(const QString& program, const QStringList& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    void kill(int signal);
    /// Waits for the child to end by itself; its exit status, or -1 when it did not exit normally.
    int waitForExit();
    /// A line the child wrote to its standard output, waiting up to `timeoutMs`.
    std::optional<QString> readLine(int timeoutMs);

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    QByteArray m_pending;
};

/// The test player built beside the tests, started with `arguments`.
QString testPlayerPath();
QString tapHolderPath();

/// Records `ms` of `sink`'s monitor and measures it.
Level recordSink(const QString& sink, int ms);
/// What the sink plays for `ms` milliseconds: interleaved stereo frames at its own rate (`*rate`).
std::vector<float> recordSinkSamples(const QString& sink, int ms, unsigned* rate);
/// The sinks (by name) that the playback streams of `pid` currently play into.
QStringList sinksOfProcess(pid_t pid);
/// The names of all sinks on the server.
QStringList sinkNames();
/// Polls `condition` every 50 ms until it holds or `timeout` passes.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
/// Runs pactl with `arguments`; its standard output.
QString pactl(const QStringList& arguments);
/// Restarts the sound server the test runs against; its two sinks come `sinksAfter` after it answers.
bool restartServer(std::chrono::milliseconds sinksAfter = std::chrono::milliseconds(0));
/// Whether a sound server was started for the test (with_sound_server.sh sets the environment).
bool haveServer();

/// The backend on the server with_sound_server.sh started, journaling to `journal`, with the built watchdog;
/// null (and the failure recorded) when it does not connect.
std::unique_ptr<PulseAudioHardware> connectTestHardware(const QString& journal);
/// The process object of `pid`, waited for up to 5 s; 0 when none came.
AudioObjectID waitForProcessObject(AudioHardware& hw, pid_t pid);

/// The pulse server stopped with SIGSTOP for as long as the object lives (or until `thaw`): it keeps its
/// socket and its connections, and answers nothing. PipeWire's pulse server is frozen; PipeWire runs on.
class FrozenServer
{
public:
    FrozenServer();
    ~FrozenServer();
    FrozenServer(const FrozenServer&) = delete;
    FrozenServer& operator=(const FrozenServer&) = delete;

    bool frozen() const { return m_pid > 0; }
    void thaw();

private:
    pid_t m_pid = -1;
};
/// "pulseaudio" or "pipewire".
QString serverKind();
/// The session manager's memory of streams, "file:line" (WirePlumber keeps it in its state folder); empty on
/// PulseAudio.
QStringList sessionManagerMemory();

} // namespace sonaric::test

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '[' << list.join(", ").toStdString() << ']';
}
