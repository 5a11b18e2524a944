#include "platform/audio/linux/pipewire_aggregate_device.h"

#include "platform/audio/linux/pulse_snapshot.h"

#include <pipewire/filter.h>
#include <pipewire/pipewire.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace sonaric
{

namespace
{

constexpr std::uint32_t kTapChannels = 2;
// The most frames a node is handed per call of the IO block; a longer cycle is processed in parts.
constexpr std::size_t kMaxBlockFrames = 8192;
// How long each step of setting the path up may take.
constexpr int kStepTimeoutMs = 2000;

void initPipeWire()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

void removeHook(spa_hook& hook)
{
    if (hook.link.next)
        spa_hook_remove(&hook);
}

bool isTrue(const char* value)
{
    return value && (std::strcmp(value, "true") == 0 || std::strcmp(value, "1") == 0);
}

} // namespace

// Everything on PipeWire's side. Apart from the ports, which are fixed before the filter connects, it is
// touched only on the path's loop thread or with that loop locked.
struct PipeWireAggregateDevice::Graph {
    struct Port {
        std::uint32_t id;
        std::uint32_t node;
        std::uint32_t index;
        bool output;
        bool monitor;
    };
    struct Link {
        Graph* graph = nullptr;
        pw_proxy* proxy = nullptr;
        spa_hook listener {};
        std::uint32_t global = SPA_ID_INVALID;
    };

    PipeWireAggregateDevice* device = nullptr;
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_registry* registry = nullptr;
    pw_filter* filter = nullptr;
    spa_hook coreListener {};
    spa_hook registryListener {};
    spa_hook filterListener {};
    spa_source* firstDataWatch = nullptr;
    std::vector<void*> inputPorts;
    std::vector<void*> outputPorts;
    std::map<std::uint32_t, std::string> nodes; ///< node global → node.name
    std::vector<Port> ports;
    std::vector<std::unique_ptr<Link>> links;
    std::function<void()> onFirstData;
    QString error;
    std::string tapSink; ///< the node names of the two ends
    std::string outputSink;

    std::uint32_t nodeNamed(const std::string& name) const
    {
        for (const auto& [id, nodeName] : nodes)
            if (nodeName == name)
                return id;
        return SPA_ID_INVALID;
    }

    /// The node's ports of one kind, in the order of their port ids (FL before FR, and so on).
    std::vector<std::uint32_t> portsOf(std::uint32_t node, bool output, bool monitor) const
    {
        std::vector<const Port*> found;
        for (const Port& port : ports)
            if (port.node == node && port.output == output && port.monitor == monitor)
                found.push_back(&port);
        std::sort(found.begin(), found.end(), [](const Port* a, const Port* b) { return a->index < b->index; });
        std::vector<std::uint32_t> ids;
        for (const Port* port : found)
            ids.push_back(port->id);
        return ids;
    }

    void fail(const QString& message)
    {
        if (error.isEmpty())
            error = message;
        device->m_running.store(false, std::memory_order_relaxed);
        pw_thread_loop_signal(loop, false);
    }

    /// Waits with the loop locked until `ready` holds, an error came or the time is up.
    template <typename Ready> bool waitUntil(Ready ready)
    {
        timespec deadline {};
        pw_thread_loop_get_time(loop, &deadline, std::int64_t(kStepTimeoutMs) * SPA_NSEC_PER_MSEC);
        while (error.isEmpty() && !ready())
            if (pw_thread_loop_timed_wait_full(loop, &deadline) != 0)
                break;
        return error.isEmpty() && ready();
    }

    static void global(
        void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t, const spa_dict* props)
    {
        auto* graph = static_cast<Graph*>(data);
        if (!props)
            return;
        if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
            if (const char* name = spa_dict_lookup(props, PW_KEY_NODE_NAME))
                graph->nodes[id] = name;
        } else if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
            const char* node = spa_dict_lookup(props, PW_KEY_NODE_ID);
            const char* direction = spa_dict_lookup(props, PW_KEY_PORT_DIRECTION);
            const char* index = spa_dict_lookup(props, PW_KEY_PORT_ID);
            if (!node || !direction || !index)
                return;
            graph->ports.push_back(Port { id, std::uint32_t(std::strtoul(node, nullptr, 10)),
                std::uint32_t(std::strtoul(index, nullptr, 10)), std::strcmp(direction, "out") == 0,
                isTrue(spa_dict_lookup(props, PW_KEY_PORT_MONITOR)) });
        } else {
            return;
        }
        pw_thread_loop_signal(graph->loop, false);
    }

    static void globalRemoved(void* data, std::uint32_t id)
    {
        auto* graph = static_cast<Graph*>(data);
        const bool ours = graph->filter && id == pw_filter_get_node_id(graph->filter);
        const bool path = std::any_of(graph->links.begin(), graph->links.end(),
            [id](const std::unique_ptr<Link>& link) { return link->global == id; });
        const auto node = graph->nodes.find(id);
        const bool endpoint
            = node != graph->nodes.end() && (node->second == graph->outputSink || node->second == graph->tapSink);
        std::erase_if(graph->ports, [id](const Port& port) { return port.id == id || port.node == id; });
        if (node != graph->nodes.end())
            graph->nodes.erase(node);
        if (ours || path || endpoint)
            graph->fail(QStringLiteral("the tap path lost a device or link"));
    }

    static void coreError(void* data, std::uint32_t id, int, int res, const char* message)
    {
        auto* graph = static_cast<Graph*>(data);
        // Errors about other objects come to their own proxies; only the connection's own end the path.
        if (id == PW_ID_CORE)
            graph->fail(QString::fromUtf8(message ? message : spa_strerror(res)));
    }

    static void linkBound(void* data, std::uint32_t global)
    {
        auto* link = static_cast<Link*>(data);
        link->global = global;
        pw_thread_loop_signal(link->graph->loop, false);
    }

    static void linkError(void* data, int, int res, const char* message)
    {
        auto* link = static_cast<Link*>(data);
        link->graph->fail(QStringLiteral("cannot link the tap path: %1")
                              .arg(QString::fromUtf8(message ? message : spa_strerror(res))));
    }

    static void filterState(void* data, pw_filter_state, pw_filter_state state, const char* message)
    {
        auto* graph = static_cast<Graph*>(data);
        if (state == PW_FILTER_STATE_ERROR)
            graph->fail(QString::fromUtf8(message ? message : "the filter failed"));
        else if (state == PW_FILTER_STATE_UNCONNECTED && graph->device->m_running.load(std::memory_order_relaxed))
            graph->fail(QStringLiteral("the filter was disconnected"));
        pw_thread_loop_signal(graph->loop, false);
    }

    static void process(void* data, spa_io_position* position)
    {
        auto* graph = static_cast<Graph*>(data);
        if (position)
            graph->device->process(
                position->clock.id, position->clock.position, std::uint32_t(position->clock.duration));
    }

    static void watchFirstData(void* data, std::uint64_t)
    {
        auto* graph = static_cast<Graph*>(data);
        if (!graph->device->m_firstDataSeen.load(std::memory_order_relaxed))
            return;
        timespec never {};
        pw_loop_update_timer(pw_thread_loop_get_loop(graph->loop), graph->firstDataWatch, &never, nullptr, false);
        if (graph->onFirstData)
            graph->onFirstData();
    }
};

PipeWireAggregateDevice::PipeWireAggregateDevice(Config config)
    : m_config(std::move(config))
{
    m_config.outputChannels = std::clamp<std::uint32_t>(m_config.outputChannels, 1, 64);
    m_silence.assign(kMaxBlockFrames, 0.0f);
    m_interleavedInput.assign(kMaxBlockFrames * kTapChannels, 0.0f);
    m_interleavedOutput.assign(kMaxBlockFrames * m_config.outputChannels, 0.0f);
    m_inputList.assign(audioBufferListSize(1), 0);
    m_outputList.assign(audioBufferListSize(1), 0);
    m_inputs.assign(kTapChannels, nullptr);
    m_outputs.assign(m_config.outputChannels, nullptr);
}

PipeWireAggregateDevice::~PipeWireAggregateDevice()
{
    stop();
}

bool PipeWireAggregateDevice::start(std::function<void()> onFirstData, QString* error)
{
    stop();
    initPipeWire();
    m_firstDataSeen.store(false, std::memory_order_relaxed);
    m_dropouts.store(0, std::memory_order_relaxed);
    m_sampleTime = 0;
    m_clock = SPA_ID_INVALID;
    m_nextPosition = 0;

    auto graph = std::make_unique<Graph>();
    graph->device = this;
    graph->onFirstData = std::move(onFirstData);
    graph->tapSink = m_config.tapSink.toStdString();
    graph->outputSink = m_config.outputSink.toStdString();
    graph->loop = pw_thread_loop_new("sonaric-tap", nullptr);
    if (!graph->loop) {
        if (error)
            *error = QStringLiteral("cannot create a PipeWire loop");
        return false;
    }
    m_graph = std::move(graph);
    Graph& g = *m_graph;

    static const pw_core_events coreEvents = [] {
        pw_core_events events {};
        events.version = PW_VERSION_CORE_EVENTS;
        events.error = &Graph::coreError;
        return events;
    }();
    static const pw_registry_events registryEvents = [] {
        pw_registry_events events {};
        events.version = PW_VERSION_REGISTRY_EVENTS;
        events.global = &Graph::global;
        events.global_remove = &Graph::globalRemoved;
        return events;
    }();
    static const pw_filter_events filterEvents = [] {
        pw_filter_events events {};
        events.version = PW_VERSION_FILTER_EVENTS;
        events.state_changed = &Graph::filterState;
        events.process = &Graph::process;
        return events;
    }();
    static const pw_proxy_events linkEvents = [] {
        pw_proxy_events events {};
        events.version = PW_VERSION_PROXY_EVENTS;
        events.bound = &Graph::linkBound;
        events.error = &Graph::linkError;
        return events;
    }();

    bool ready = false;
    pw_thread_loop_lock(g.loop);
    // The real-time flavour of the client configuration gives the data thread, and so the IO block, a
    // real-time priority where the system allows it.
    g.context = pw_context_new(
        pw_thread_loop_get_loop(g.loop), pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (g.context)
        g.core = pw_context_connect(
            g.context, pw_properties_new(PW_KEY_APP_NAME, "Sonaric", kInternalStreamProperty, "1", nullptr), 0);
    if (!g.core) {
        g.error = QStringLiteral("cannot connect to PipeWire");
    } else if (pw_thread_loop_start(g.loop) < 0) {
        g.error = QStringLiteral("cannot start the PipeWire loop");
    } else {
        pw_core_add_listener(g.core, &g.coreListener, &coreEvents, &g);
        g.registry = pw_core_get_registry(g.core, PW_VERSION_REGISTRY, 0);
        pw_registry_add_listener(g.registry, &g.registryListener, &registryEvents, &g);

        const std::string nodeName = "sonaric-tap-path." + g.tapSink;
        g.filter = pw_filter_new(g.core, "Sonaric tap path",
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Filter", PW_KEY_MEDIA_ROLE, "DSP",
                PW_KEY_NODE_NAME, nodeName.c_str(), PW_KEY_NODE_DESCRIPTION, "Sonaric tap path",
                kInternalStreamProperty, "1", nullptr));
        if (!g.filter) {
            g.error = QStringLiteral("cannot create the filter");
        } else {
            pw_filter_add_listener(g.filter, &g.filterListener, &filterEvents, &g);
            const auto addPort = [&](pw_direction direction, const QString& name) {
                return pw_filter_add_port(g.filter, direction, PW_FILTER_PORT_FLAG_MAP_BUFFERS, sizeof(std::uint32_t),
                    pw_properties_new(PW_KEY_FORMAT_DSP, "32 bit float mono audio", PW_KEY_PORT_NAME,
                        name.toUtf8().constData(), nullptr),
                    nullptr, 0);
            };
            for (std::uint32_t c = 0; c < kTapChannels; ++c)
                g.inputPorts.push_back(addPort(PW_DIRECTION_INPUT, QStringLiteral("tap_%1").arg(c)));
            for (std::uint32_t c = 0; c < m_config.outputChannels; ++c)
                g.outputPorts.push_back(addPort(PW_DIRECTION_OUTPUT, QStringLiteral("out_%1").arg(c)));
            const bool portsAdded = std::none_of(g.inputPorts.begin(), g.inputPorts.end(), [](void* p) { return !p; })
                && std::none_of(g.outputPorts.begin(), g.outputPorts.end(), [](void* p) { return !p; });
            if (!portsAdded || pw_filter_connect(g.filter, PW_FILTER_FLAG_RT_PROCESS, nullptr, 0) < 0)
                g.error = QStringLiteral("cannot add the filter");
        }
    }

    std::uint32_t ourNode = SPA_ID_INVALID;
    std::uint32_t tapNode = SPA_ID_INVALID;
    std::uint32_t outputNode = SPA_ID_INVALID;
    const bool found = g.error.isEmpty() && g.waitUntil([&] {
        ourNode = pw_filter_get_node_id(g.filter);
        tapNode = g.nodeNamed(g.tapSink);
        outputNode = g.nodeNamed(g.outputSink);
        return ourNode != SPA_ID_INVALID && tapNode != SPA_ID_INVALID && outputNode != SPA_ID_INVALID
            && g.portsOf(ourNode, false, false).size() == kTapChannels
            && g.portsOf(ourNode, true, false).size() == m_config.outputChannels
            && g.portsOf(tapNode, true, true).size() >= kTapChannels && !g.portsOf(outputNode, false, false).empty();
    });
    if (found) {
        const auto makeLink
            = [&](std::uint32_t fromNode, std::uint32_t fromPort, std::uint32_t toNode, std::uint32_t toPort) {
                  pw_properties* props
                      = pw_properties_new(PW_KEY_OBJECT_LINGER, "false", kInternalStreamProperty, "1", nullptr);
                  pw_properties_setf(props, PW_KEY_LINK_OUTPUT_NODE, "%u", fromNode);
                  pw_properties_setf(props, PW_KEY_LINK_OUTPUT_PORT, "%u", fromPort);
                  pw_properties_setf(props, PW_KEY_LINK_INPUT_NODE, "%u", toNode);
                  pw_properties_setf(props, PW_KEY_LINK_INPUT_PORT, "%u", toPort);
                  auto link = std::make_unique<Graph::Link>();
                  link->graph = &g;
                  link->proxy = static_cast<pw_proxy*>(pw_core_create_object(
                      g.core, "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &props->dict, 0));
                  pw_properties_free(props);
                  if (!link->proxy) {
                      g.fail(QStringLiteral("cannot create a link"));
                      return;
                  }
                  pw_proxy_add_listener(link->proxy, &link->listener, &linkEvents, link.get());
                  g.links.push_back(std::move(link));
              };
        const auto monitors = g.portsOf(tapNode, true, true);
        const auto inputs = g.portsOf(ourNode, false, false);
        for (std::uint32_t c = 0; c < kTapChannels; ++c)
            makeLink(tapNode, monitors[c], ourNode, inputs[c]);
        // Output channel k plays on the device's channel k, as the IO block lays them out.
        const auto outputs = g.portsOf(ourNode, true, false);
        const auto playback = g.portsOf(outputNode, false, false);
        for (std::size_t c = 0; c < std::min(outputs.size(), playback.size()); ++c)
            makeLink(ourNode, outputs[c], outputNode, playback[c]);
        ready = g.waitUntil([&] {
            return std::all_of(g.links.begin(), g.links.end(),
                [](const std::unique_ptr<Graph::Link>& link) { return link->global != SPA_ID_INVALID; });
        });
    } else if (g.error.isEmpty()) {
        g.error = QStringLiteral("PipeWire does not show the tap sink \"%1\" or the device \"%2\"")
                      .arg(m_config.tapSink, m_config.outputSink);
    }
    if (ready) {
        // The real-time thread only raises a flag; this loop thread passes it on.
        g.firstDataWatch = pw_loop_add_timer(pw_thread_loop_get_loop(g.loop), &Graph::watchFirstData, &g);
        timespec soon { 0, 2 * SPA_NSEC_PER_MSEC };
        timespec every { 0, 5 * SPA_NSEC_PER_MSEC };
        if (g.firstDataWatch)
            pw_loop_update_timer(pw_thread_loop_get_loop(g.loop), g.firstDataWatch, &soon, &every, false);
        m_running.store(true, std::memory_order_relaxed);
    }
    if (!ready && error)
        *error = g.error.isEmpty() ? QStringLiteral("PipeWire did not link the tap path in time") : g.error;
    pw_thread_loop_unlock(g.loop);
    if (!ready)
        stop();
    return ready;
}

void PipeWireAggregateDevice::process(std::uint32_t clock, std::uint64_t position, std::uint32_t frames)
{
    // A cycle of the same clock that does not start where the last one ended is one the device played
    // without this path: the graph ran late.
    if (m_firstDataSeen.load(std::memory_order_relaxed) && clock == m_clock && position != m_nextPosition)
        m_dropouts.fetch_add(1, std::memory_order_relaxed);
    m_clock = clock;
    m_nextPosition = position + frames;

    const Graph& g = *m_graph;
    bool haveInput = true;
    for (std::uint32_t c = 0; c < kTapChannels; ++c) {
        m_inputs[c] = static_cast<float*>(pw_filter_get_dsp_buffer(g.inputPorts[c], frames));
        haveInput = haveInput && m_inputs[c];
    }
    for (std::uint32_t c = 0; c < m_config.outputChannels; ++c)
        m_outputs[c] = static_cast<float*>(pw_filter_get_dsp_buffer(g.outputPorts[c], frames));
    if (haveInput)
        m_firstDataSeen.store(true, std::memory_order_relaxed);
    else if (m_firstDataSeen.load(std::memory_order_relaxed))
        m_dropouts.fetch_add(1, std::memory_order_relaxed);

    // The device's stream configuration promises one interleaved tap stream in and one interleaved stream
    // out, as on any aggregate device; PipeWire's ports carry a channel each.
    const std::size_t channels = m_config.outputChannels;
    auto* input = reinterpret_cast<AudioBufferList*>(m_inputList.data());
    auto* output = reinterpret_cast<AudioBufferList*>(m_outputList.data());
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min<std::size_t>(frames - done, kMaxBlockFrames);
        for (std::uint32_t c = 0; c < kTapChannels; ++c) {
            const float* from = m_inputs[c] ? m_inputs[c] + done : m_silence.data();
            for (std::size_t i = 0; i < n; ++i)
                m_interleavedInput[i * kTapChannels + c] = from[i];
        }
        input->mNumberBuffers = 1;
        input->mBuffers[0]
            = { kTapChannels, std::uint32_t(n * kTapChannels * sizeof(float)), m_interleavedInput.data() };
        output->mNumberBuffers = 1;
        output->mBuffers[0]
            = { m_config.outputChannels, std::uint32_t(n * channels * sizeof(float)), m_interleavedOutput.data() };
        AudioTimeStamp now { m_sampleTime, 0 };
        m_config.block(&now, input, &now, output, &now);
        for (std::size_t c = 0; c < channels; ++c) {
            if (float* to = m_outputs[c]) {
                to += done;
                for (std::size_t i = 0; i < n; ++i)
                    to[i] = m_interleavedOutput[i * channels + c];
            }
        }
        m_sampleTime += double(n);
        done += n;
    }
}

void PipeWireAggregateDevice::stop()
{
    if (!m_graph)
        return;
    m_running.store(false, std::memory_order_relaxed);
    Graph& g = *m_graph;
    pw_thread_loop_lock(g.loop);
    if (g.firstDataWatch)
        pw_loop_destroy_source(pw_thread_loop_get_loop(g.loop), g.firstDataWatch);
    for (auto& link : g.links) {
        removeHook(link->listener);
        pw_proxy_destroy(link->proxy);
    }
    g.links.clear();
    // Destroying the filter takes it out of the graph before returning, so the IO block is not called again.
    if (g.filter) {
        removeHook(g.filterListener);
        pw_filter_destroy(g.filter);
    }
    if (g.registry) {
        removeHook(g.registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(g.registry));
    }
    // Links made by this connection go with it.
    if (g.core) {
        removeHook(g.coreListener);
        pw_core_disconnect(g.core);
    }
    pw_thread_loop_unlock(g.loop);
    pw_thread_loop_stop(g.loop);
    if (g.context)
        pw_context_destroy(g.context);
    pw_thread_loop_destroy(g.loop);
    m_graph.reset();
}

} // namespace sonaric
