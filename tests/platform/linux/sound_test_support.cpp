#include "sound_test_support.h"

#include "audio/ca.h"
#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_query.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <pulse/simple.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace sonaric::test
{

namespace
{

/// Starts `program` with posix_spawn (QProcess forks in a way ThreadSanitizer does not follow, which made every
/// later hand-over between threads of the test look unordered to it), its standard output on a pipe. The read
/// end of the pipe, or -1 when nothing started; `pid` is -1 then too.
int spawnReadingOutput(const QString& program, const QStringList& arguments, pid_t* pid)
{
    *pid = -1;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<QByteArray> storage { program.toLocal8Bit() };
    for (const auto& a : arguments)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (auto& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(pid, storage[0].constData(), &actions, nullptr, argv.data(), environ) != 0)
        *pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (*pid < 0) {
        ::close(fds[0]);
        return -1;
    }
    return fds[0];
}

} // namespace

ChildProcess::ChildProcess(const QString& program, const QStringList& arguments)
{
    m_stdout = spawnReadingOutput(program, arguments, &m_pid);
}

ChildProcess::~ChildProcess()
{
    kill(SIGKILL);
    if (m_stdout >= 0)
        ::close(m_stdout);
}

void ChildProcess::kill(int signal)
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, signal);
    if (signal == SIGKILL) {
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

int ChildProcess::waitForExit()
{
    if (m_pid <= 0)
        return -1;
    int status = 0;
    const pid_t done = waitpid(m_pid, &status, 0);
    m_pid = -1;
    return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<QString> ChildProcess::readLine(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int newline = m_pending.indexOf('\n');
        if (newline >= 0) {
            const QString line = QString::fromUtf8(m_pending.left(newline));
            m_pending.remove(0, newline + 1);
            return line;
        }
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_stdout < 0)
            return std::nullopt;
        pollfd fd { m_stdout, POLLIN, 0 };
        if (poll(&fd, 1, int(left.count())) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(m_stdout, buffer, sizeof buffer);
        if (n <= 0)
            return std::nullopt;
        m_pending.append(buffer, int(n));
    }
}

QString testPlayerPath()
{
    return QStringLiteral(SONARIC_TEST_PLAYER);
}
QString tapHolderPath()
{
    return QStringLiteral(SONARIC_TAP_HOLDER);
}

namespace
{

PulseConnection& queryConnection()
{
    static thread_local std::unique_ptr<PulseConnection> connection;
    if (!connection || !connection->isReady()) {
        connection = std::make_unique<PulseConnection>(QStringLiteral("Sonaric test"));
        connection->connect(2000, nullptr);
    }
    return *connection;
}

} // namespace

std::vector<float> recordSinkSamples(const QString& sink, int ms, unsigned* rate)
{
    // At the sink's own rate: a resampler's ripple would add to the peaks measured.
    *rate = 48000;
    if (const auto sinks = PulseQuery::sinks(queryConnection()))
        for (const auto& s : *sinks)
            if (s.name == sink)
                *rate = s.rate;
    const pa_sample_spec spec { PA_SAMPLE_FLOAT32NE, *rate, 2 };
    pa_buffer_attr attr;
    attr.maxlength = std::uint32_t(-1);
    attr.fragsize = *rate * 8 / 100;
    attr.tlength = attr.prebuf = attr.minreq = std::uint32_t(-1);
    int error = 0;
    const QByteArray monitor = (sink + QStringLiteral(".monitor")).toUtf8();
    pa_simple* s = pa_simple_new(nullptr, "Sonaric test recorder", PA_STREAM_RECORD, monitor.constData(), "record",
        &spec, nullptr, &attr, &error);
    std::vector<float> frames;
    if (!s)
        return frames;
    std::vector<float> chunk(*rate / 100 * 2);
    for (int done = 0; done < ms; done += 10) {
        if (pa_simple_read(s, chunk.data(), chunk.size() * sizeof(float), &error) < 0)
            break;
        frames.insert(frames.end(), chunk.begin(), chunk.end());
    }
    pa_simple_free(s);
    return frames;
}

Level recordSink(const QString& sink, int ms)
{
    unsigned rate = 0;
    const std::vector<float> samples = recordSinkSamples(sink, ms, &rate);
    Level level;
    double sum = 0;
    for (float v : samples) {
        level.peak = std::max(level.peak, std::fabs(v));
        sum += double(v) * v;
    }
    level.rms = samples.empty() ? 0.0f : float(std::sqrt(sum / double(samples.size())));
    return level;
}

QStringList sinksOfProcess(pid_t pid)
{
    auto& connection = queryConnection();
    const auto sinks = PulseQuery::sinks(connection);
    const auto streams = PulseQuery::streams(connection);
    QStringList names;
    if (!sinks || !streams)
        return names;
    for (const auto& stream : *streams) {
        if (stream.pid != pid)
            continue;
        for (const auto& sink : *sinks)
            if (sink.index == stream.sink)
                names.append(sink.name);
    }
    return names;
}

QStringList sinkNames()
{
    QStringList names;
    if (const auto sinks = PulseQuery::sinks(queryConnection()))
        for (const auto& sink : *sinks)
            names.append(sink.name);
    return names;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

namespace
{

struct ProgramRun {
    int status = -1;
    QByteArray out;
};

/// Runs a program to its end with posix_spawn.
ProgramRun run(const QString& program, const QStringList& arguments)
{
    ProgramRun result;
    pid_t pid = -1;
    const int out = spawnReadingOutput(program, arguments, &pid);
    if (out < 0)
        return result;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out, buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            result.out.append(buffer, n);
        else if (errno != EINTR)
            break;
    }
    ::close(out);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    return result;
}

} // namespace

QString pactl(const QStringList& arguments)
{
    return QString::fromUtf8(run(QStringLiteral("pactl"), arguments).out).trimmed();
}

QStringList sessionManagerMemory()
{
    QStringList lines;
    const QDir folder(qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/wireplumber"));
    for (const QString& name : folder.entryList(QDir::Files)) {
        QFile file(folder.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts))
                lines << name + u':' + line;
    }
    return lines;
}

bool restartServer(std::chrono::milliseconds sinksAfter)
{
    return run(qEnvironmentVariable("SONARIC_SOUND_SERVER_SCRIPT"),
               { QStringLiteral("restart"), serverKind(), qEnvironmentVariable("SONARIC_SOUND_SERVER_DIR"),
                   QString::number(double(sinksAfter.count()) / 1000.0) })
               .status
        == 0;
}

FrozenServer::FrozenServer()
{
    // sound_server.sh writes the server's pids first: "pulseaudio", or "pipewire wireplumber pipewire-pulse".
    QFile pids(qEnvironmentVariable("SONARIC_SOUND_SERVER_DIR") + QStringLiteral("/pids"));
    if (!pids.open(QIODevice::ReadOnly))
        return;
    const QStringList first = QString::fromLatin1(pids.readLine()).split(u' ', Qt::SkipEmptyParts);
    const pid_t pid = (serverKind() == QLatin1String("pipewire") ? first.value(2) : first.value(0)).trimmed().toInt();
    if (pid > 0 && ::kill(pid, SIGSTOP) == 0)
        m_pid = pid;
}

FrozenServer::~FrozenServer()
{
    thaw();
}

void FrozenServer::thaw()
{
    if (m_pid > 0)
        ::kill(m_pid, SIGCONT);
    m_pid = -1;
}

bool haveServer()
{
    return !qEnvironmentVariable("SONARIC_SOUND_SERVER").isEmpty();
}
QString serverKind()
{
    return qEnvironmentVariable("SONARIC_SOUND_SERVER");
}

std::unique_ptr<PulseAudioHardware> connectTestHardware(const QString& journal)
{
    PulseAudioHardware::Options options;
    options.journalPath = journal;
    options.watchdogPath = QStringLiteral(SONARIC_WATCHDOG);
    QString error;
    auto hw = PulseAudioHardware::connect(options, &error);
    EXPECT_TRUE(hw) << qPrintable(error);
    return hw;
}

AudioObjectID waitForProcessObject(AudioHardware& hw, pid_t pid)
{
    AudioObjectID found = 0;
    waitFor(
        [&] {
            for (AudioObjectID id : CA::array(hw, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList))
                if (CA::uint32(hw, id, kAudioProcessPropertyPID) == std::uint32_t(pid))
                    found = id;
            return found != 0;
        },
        std::chrono::seconds(5));
    return found;
}

} // namespace sonaric::test
