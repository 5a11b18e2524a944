#include "platform/audio/linux/pulse_aggregate_device.h"

#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_snapshot.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <pthread.h>
#include <sched.h>

namespace sonaric
{

namespace
{

constexpr std::uint32_t kCaptureChannels = 2;
// Playback rate corrections stay within what a listener cannot hear as pitch.
constexpr double kMaxRateCorrection = 0.005;

pa_proplist* internalProperties(const char* role)
{
    pa_proplist* list = pa_proplist_new();
    pa_proplist_sets(list, kInternalStreamProperty, "1");
    // A key of our own keeps the server's stream memory for these streams apart from every application's.
    pa_proplist_setf(list, "module-stream-restore.id", "sonaric-internal-%s", role);
    pa_proplist_sets(list, PA_PROP_MEDIA_NAME, role);
    return list;
}

} // namespace

PulseAggregateDevice::PulseAggregateDevice(Config config)
    : m_config(std::move(config))
{
    m_config.outputChannels = std::clamp<std::uint32_t>(m_config.outputChannels, 1, PA_CHANNELS_MAX);
    m_maxFrames = std::max<std::size_t>(m_config.rate / 10, 1024);
    m_output.assign(m_maxFrames * m_config.outputChannels, 0.0f);
    m_ring.assign(std::size_t(m_config.rate) * m_config.outputChannels, 0.0f);
    m_silence.assign(m_maxFrames * kCaptureChannels, 0.0f);
    m_inputList.assign(audioBufferListSize(1), 0);
    m_outputList.assign(audioBufferListSize(1), 0);
    m_currentRate = m_config.rate;
}

PulseAggregateDevice::~PulseAggregateDevice()
{
    stop();
}

bool PulseAggregateDevice::start(std::function<void()> onFirstData, QString* error)
{
    stop();
    m_onFirstData = std::move(onFirstData);
    m_firstDataSeen.store(false, std::memory_order_relaxed);
    m_connection = std::make_unique<PulseConnection>(
        QStringLiteral("Sonaric"), QList<QPair<QString, QString>> { { kInternalStreamProperty, "1" } });
    if (!m_connection->connect(1000, error)) {
        m_connection.reset();
        return false;
    }

    const std::size_t frameBytes = sizeof(float) * m_config.outputChannels;
    const std::size_t captureFrameBytes = sizeof(float) * kCaptureChannels;
    m_targetBytes = std::size_t(m_config.rate) * m_config.latencyMs / 1000 * frameBytes;
    // A capture burst (one period of the tap sink) may arrive at once; dropping starts only well beyond it.
    m_burstBytes = std::size_t(m_config.rate) * 10 / 1000 * frameBytes;
    m_maxRingFrames = std::min(m_ring.size() / m_config.outputChannels, (m_targetBytes + m_burstBytes) / frameBytes);
    m_maxTargetBytes = m_targetBytes * 3;
    m_lastRaise = 0;
    m_ringStart = m_ringFrames = 0;
    m_setpoint = 0;
    m_priming = true;
    bool ready = false;
    {
        PulseConnection::Lock lock(*m_connection);
        pa_context* context = m_connection->context();

        pa_sample_spec captureSpec { PA_SAMPLE_FLOAT32NE, m_config.rate, std::uint8_t(kCaptureChannels) };
        pa_proplist* captureProps = internalProperties("tap-capture");
        m_capture = pa_stream_new_with_proplist(context, "Sonaric tap capture", &captureSpec, nullptr, captureProps);
        pa_proplist_free(captureProps);

        pa_sample_spec playSpec { PA_SAMPLE_FLOAT32NE, m_config.rate, std::uint8_t(m_config.outputChannels) };
        pa_channel_map map;
        pa_channel_map_init_extend(&map, playSpec.channels, PA_CHANNEL_MAP_DEFAULT);
        pa_proplist* playProps = internalProperties("tap-playback");
        m_playback = pa_stream_new_with_proplist(context, "Sonaric tap playback", &playSpec, &map, playProps);
        pa_proplist_free(playProps);
        if (!m_capture || !m_playback) {
            if (error)
                *error = QStringLiteral("cannot create streams");
        } else {
            const auto onState = [](pa_stream* stream, void* self) {
                static_cast<PulseAggregateDevice*>(self)->streamStateChanged(stream);
            };
            pa_stream_set_state_callback(m_capture, onState, this);
            pa_stream_set_state_callback(m_playback, onState, this);
            pa_stream_set_read_callback(
                m_capture,
                [](pa_stream*, std::size_t, void* self) { static_cast<PulseAggregateDevice*>(self)->captured(); },
                this);
            pa_stream_set_write_callback(
                m_playback,
                [](pa_stream*, std::size_t, void* self) { static_cast<PulseAggregateDevice*>(self)->pump(); }, this);
            pa_stream_set_underflow_callback(
                m_playback, [](pa_stream*, void* self) { static_cast<PulseAggregateDevice*>(self)->underrun(); }, this);

            // The capture delivers small fragments so the added latency stays near the playback target, and
            // the queue never waits long for the next one: a fifth of the target (2 ms at the default), where a
            // third left a late capture running the queue dry once or twice a minute under three taps.
            pa_buffer_attr captureAttr;
            captureAttr.maxlength = std::uint32_t(-1);
            captureAttr.fragsize = std::uint32_t(
                std::max<std::size_t>(
                    std::size_t(m_config.rate) * std::max<std::uint32_t>(m_config.latencyMs / 5, 2) / 1000, 64)
                * captureFrameBytes);
            captureAttr.tlength = captureAttr.prebuf = captureAttr.minreq = std::uint32_t(-1);
            // Never let the server move the capture elsewhere: on the default monitor it would feed the
            // output back into itself.
            pa_stream_connect_record(m_capture, m_config.tapMonitor.toUtf8().constData(), &captureAttr,
                pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE));

            pa_buffer_attr playAttr;
            playAttr.maxlength = std::uint32_t(m_targetBytes * 8);
            playAttr.tlength = std::uint32_t(m_targetBytes);
            playAttr.prebuf = std::uint32_t(m_targetBytes / 2);
            playAttr.minreq = std::uint32_t(-1);
            playAttr.fragsize = std::uint32_t(-1);
            pa_stream_connect_playback(m_playback, m_config.outputSink.toUtf8().constData(), &playAttr,
                pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_VARIABLE_RATE | PA_STREAM_AUTO_TIMING_UPDATE
                    | PA_STREAM_INTERPOLATE_TIMING),
                nullptr, nullptr);

            ready = m_connection->waitUntil(
                        [this] {
                            const auto c = pa_stream_get_state(m_capture), p = pa_stream_get_state(m_playback);
                            return (c == PA_STREAM_READY && p == PA_STREAM_READY) || !PA_STREAM_IS_GOOD(c)
                                || !PA_STREAM_IS_GOOD(p);
                        },
                        2000)
                && pa_stream_get_state(m_capture) == PA_STREAM_READY
                && pa_stream_get_state(m_playback) == PA_STREAM_READY;
            if (!ready && error)
                *error = QString::fromUtf8(pa_strerror(pa_context_errno(context)));
            m_running.store(ready, std::memory_order_relaxed);
        }
    }
    if (!ready)
        stop();
    return ready;
}

void PulseAggregateDevice::streamStateChanged(pa_stream* stream)
{
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        m_running.store(false, std::memory_order_relaxed);
    m_connection->signal();
}

void PulseAggregateDevice::captured()
{
    if (!m_prioritySet) {
        m_prioritySet = true;
        sched_param param {};
        param.sched_priority = 5;
        pthread_setschedparam(pthread_self(), SCHED_RR, &param);
    }
    auto* input = reinterpret_cast<AudioBufferList*>(m_inputList.data());
    auto* output = reinterpret_cast<AudioBufferList*>(m_outputList.data());
    const std::size_t channels = m_config.outputChannels;
    const std::size_t inFrameBytes = sizeof(float) * kCaptureChannels;

    while (pa_stream_readable_size(m_capture) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(m_capture, &data, &bytes) < 0 || bytes == 0)
            break;
        std::size_t frames = bytes / inFrameBytes;
        const auto* samples = static_cast<const float*>(data);
        while (frames > 0) {
            const std::size_t chunk = std::min(frames, m_maxFrames);
            input->mNumberBuffers = 1;
            input->mBuffers[0] = { kCaptureChannels, std::uint32_t(chunk * inFrameBytes),
                const_cast<float*>(samples ? samples : m_silence.data()) };
            output->mNumberBuffers = 1;
            output->mBuffers[0]
                = { m_config.outputChannels, std::uint32_t(chunk * channels * sizeof(float)), m_output.data() };
            AudioTimeStamp now { m_sampleTime, 0 };
            m_config.block(&now, input, &now, output, &now);
            m_sampleTime += double(chunk);
            pushToRing(chunk);
            if (samples)
                samples += chunk * kCaptureChannels;
            frames -= chunk;
        }
        pa_stream_drop(m_capture);
        if (!m_firstDataSeen.load(std::memory_order_relaxed) && data) {
            m_firstDataSeen.store(true, std::memory_order_relaxed);
            if (m_onFirstData)
                m_onFirstData();
        }
    }
    pump();
}

void PulseAggregateDevice::underrun()
{
    m_underruns.fetch_add(1, std::memory_order_relaxed);
    // The queue is empty: gather a full start again rather than trickle in each fragment as it comes and
    // run dry at the next late one.
    m_priming = true;
    // A device that keeps running dry needs a deeper queue than this machine allows for now: grow the target
    // by 2 ms, at most four times a second and up to three times the configured one.
    const std::uint64_t now = pa_rtclock_now();
    if (now - m_lastRaise < PA_USEC_PER_SEC / 4 || m_targetBytes >= m_maxTargetBytes)
        return;
    m_lastRaise = now;
    const std::size_t frameBytes = sizeof(float) * m_config.outputChannels;
    m_targetBytes = std::min(m_maxTargetBytes, m_targetBytes + std::size_t(m_config.rate) * 2 / 1000 * frameBytes);
    m_maxRingFrames = std::min(m_ring.size() / m_config.outputChannels, (m_targetBytes + m_burstBytes) / frameBytes);
    m_setpoint = 0;
    pa_buffer_attr attr;
    attr.maxlength = std::uint32_t(m_targetBytes * 8);
    attr.tlength = std::uint32_t(m_targetBytes);
    attr.prebuf = std::uint32_t(m_targetBytes / 2);
    attr.minreq = attr.fragsize = std::uint32_t(-1);
    if (pa_operation* op = pa_stream_set_buffer_attr(m_playback, &attr, nullptr, nullptr))
        pa_operation_unref(op);
}

void PulseAggregateDevice::pushToRing(std::size_t frames)
{
    // Beyond the most the device can be short of plus one capture burst, what arrives is dropped: a capture
    // that started with a backlog, or a clock far off, must not turn into latency.
    if (m_ringFrames + frames > m_maxRingFrames)
        return;
    const std::size_t channels = m_config.outputChannels;
    const std::size_t capacity = m_ring.size() / channels;
    std::size_t write = (m_ringStart + m_ringFrames) % capacity;
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min(frames - done, capacity - write);
        std::copy_n(m_output.data() + done * channels, n * channels, m_ring.data() + write * channels);
        done += n;
        write = (write + n) % capacity;
    }
    m_ringFrames += frames;
}

std::size_t PulseAggregateDevice::primeFrames() const
{
    // Both attributes are the stream's own copies as the server settled them: reading them asks nothing.
    const std::size_t frameBytes = sizeof(float) * m_config.outputChannels;
    const pa_buffer_attr* capture = pa_stream_get_buffer_attr(m_capture);
    const std::size_t fragment = capture && capture->fragsize != std::uint32_t(-1)
        ? capture->fragsize / (sizeof(float) * kCaptureChannels)
        : std::size_t(m_config.rate) * 5 / 1000;
    const pa_buffer_attr* playback = pa_stream_get_buffer_attr(m_playback);
    const std::size_t queue = std::min(
        m_targetBytes, playback && playback->tlength != std::uint32_t(-1) ? playback->tlength : m_targetBytes);
    // Never more than the ring may hold, or the playback would wait for ever.
    return std::min(queue / frameBytes + fragment, m_maxRingFrames);
}

void PulseAggregateDevice::pump()
{
    // Both streams call here (the capture when it delivered, the playback when the server asks for more);
    // both run on this device's loop thread, so the ring needs no lock.
    const std::size_t channels = m_config.outputChannels;
    const std::size_t frameBytes = channels * sizeof(float);
    const std::size_t capacity = m_ring.size() / channels;
    if (m_priming) {
        // Started with a queue as full as the server lets it be and one more fragment behind it, the
        // playback rides out a capture that comes a period late; started at the server's prebuffer, it
        // ran dry several times a second under three taps.
        if (m_ringFrames < primeFrames())
            return;
        m_priming = false;
        m_setpoint = 0;
        m_queueSum = 0;
        m_queueSamples = 0;
    }
    std::size_t wanted = pa_stream_writable_size(m_playback) / frameBytes;
    // Server buffer plus backlog against the target: what the rate correction holds steady.
    const std::size_t queued
        = (m_targetBytes / frameBytes - std::min(wanted, m_targetBytes / frameBytes)) + m_ringFrames;
    while (wanted > 0 && m_ringFrames > 0) {
        const std::size_t n = std::min({ wanted, m_ringFrames, capacity - m_ringStart });
        pa_stream_write(
            m_playback, m_ring.data() + m_ringStart * channels, n * frameBytes, nullptr, 0, PA_SEEK_RELATIVE);
        m_ringStart = (m_ringStart + n) % capacity;
        m_ringFrames -= n;
        wanted -= n;
    }
    adjustRate(queued * frameBytes);
}

void PulseAggregateDevice::adjustRate(std::size_t queuedBytes)
{
    m_queueSum += double(queuedBytes);
    if (++m_queueSamples < 128)
        return;
    const double frameBytes = double(sizeof(float) * m_config.outputChannels);
    const double average = m_queueSum / m_queueSamples;
    m_queueSum = 0;
    m_queueSamples = 0;
    // The server keeps its buffer a little below the requested length; the level first reached once running
    // is the one to hold, so that no bias in that turns into a steady drift.
    if (m_setpoint <= 0) {
        m_setpoint = std::clamp(average, double(m_targetBytes) / 4, double(m_targetBytes));
        return;
    }
    const double errorFrames = (average - m_setpoint) / frameBytes;
    // Any rate but the nominal one resamples, and a resampler's ripple lifts limited peaks above the ceiling;
    // so the rate is corrected only while the queue is clearly off, and set back once it is on target again.
    // A queue that sags eats the margin that rides out a late capture, so the low side acts at 1 ms, the
    // high side only at 3 ms. A fuller queue than wanted makes the server consume faster; the deviation
    // drains over about half a second, faster than the clocks drift apart.
    const double lowBand = double(m_config.rate) * 0.001;
    const double highBand = double(m_config.rate) * 0.003;
    std::uint32_t rate = m_currentRate;
    if (errorFrames < -lowBand || errorFrames > highBand) {
        const double correction
            = std::clamp(errorFrames / 0.5 / double(m_config.rate), -kMaxRateCorrection, kMaxRateCorrection);
        rate = std::uint32_t(double(m_config.rate) * (1.0 + correction) + 0.5);
    } else if (std::abs(errorFrames) < lowBand / 4) {
        rate = m_config.rate;
    }
    if (rate == m_currentRate)
        return;
    m_currentRate = rate;
    if (pa_operation* op = pa_stream_update_sample_rate(m_playback, rate, nullptr, nullptr))
        pa_operation_unref(op);
}

void PulseAggregateDevice::flush()
{
    if (!m_connection || !m_playback)
        return;
    PulseConnection::Lock lock(*m_connection);
    if (pa_stream_get_state(m_playback) == PA_STREAM_READY) {
        m_connection->wait(pa_stream_cork(m_playback, 1, nullptr, nullptr));
        m_connection->wait(pa_stream_flush(m_playback, nullptr, nullptr));
    }
    m_ringStart = m_ringFrames = 0;
}

void PulseAggregateDevice::stop()
{
    if (!m_connection)
        return;
    m_running.store(false, std::memory_order_relaxed);
    {
        PulseConnection::Lock lock(*m_connection);
        for (pa_stream** stream : { &m_capture, &m_playback }) {
            if (!*stream)
                continue;
            pa_stream_set_read_callback(*stream, nullptr, nullptr);
            pa_stream_set_write_callback(*stream, nullptr, nullptr);
            pa_stream_set_state_callback(*stream, nullptr, nullptr);
            pa_stream_set_underflow_callback(*stream, nullptr, nullptr);
            if (PA_STREAM_IS_GOOD(pa_stream_get_state(*stream)))
                pa_stream_disconnect(*stream);
            pa_stream_unref(*stream);
            *stream = nullptr;
        }
    }
    m_connection.reset();
    m_prioritySet = false;
}

} // namespace sonaric
