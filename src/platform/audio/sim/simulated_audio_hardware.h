#pragma once

#include "platform/audio/audio_hardware.h"
#include "platform/audio/sim/simulated_audio_objects.h"
#include "platform/audio/sim/simulated_audio_renderer.h"
#include "platform/scene/scene.h"

#include <map>
#include <mutex>
#include <vector>

namespace sonaric
{

/// The calls of the audio hardware service, for fault injection.
enum class SimCall {
    getPropertyDataSize,
    getPropertyData, ///< string reads count here too, as they do on the real HAL
    addPropertyListener,
    createProcessTap,
    destroyProcessTap,
    createAggregateDevice,
    destroyAggregateDevice,
    createIOProc,
    destroyIOProc,
    deviceStart,
    deviceStop,
};

/// A deterministic, in-process audio system built from a scene.
///
/// Processes play the signals the scene gives them into the default output device. A process tap mixes its
/// processes down to stereo; while an aggregate device that reads a tap is running, those processes' own
/// output is silent (muted-when-tapped) and what the device plays is whatever the aggregate's IO block wrote.
///
/// Time moves only when a test calls advance(), or on a pacing thread after startRealTime(). Everything each
/// output device played is kept, per device UID, until takePlayed(). The rendering itself is
/// SimulatedAudioRenderer's, over this object's devices, processes, taps and IO procs.
class SimulatedAudioHardware final : public AudioHardware
{
public:
    explicit SimulatedAudioHardware(const Scene& scene);
    ~SimulatedAudioHardware() override;

    // The audio hardware service.
    OSStatus getPropertyDataSize(
        AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* outDataSize) override;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* ioDataSize,
        void* outData) override;
    OSStatus getPropertyString(
        AudioObjectID object, const AudioObjectPropertyAddress& address, QString* outValue) override;
    OSStatus addPropertyListenerBlock(AudioObjectID object, const AudioObjectPropertyAddress& address,
        DispatchQueue& queue, AudioObjectPropertyListenerBlock block) override;
    /// The simulated system has no settable property: its processes have no volume, mute or output of their own,
    /// so every level and route takes a tap.
    OSStatus isPropertySettable(
        AudioObjectID object, const AudioObjectPropertyAddress& address, bool* outIsSettable) override;
    OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t dataSize,
        const void* data) override;
    OSStatus createProcessTap(const CATapDescription& description, AudioObjectID* outTapID) override;
    OSStatus destroyProcessTap(AudioObjectID tapID) override;
    OSStatus createAggregateDevice(const CFDictionary& description, AudioObjectID* outDeviceID) override;
    OSStatus destroyAggregateDevice(AudioObjectID deviceID) override;
    OSStatus createIOProcIDWithBlock(
        AudioDeviceIOProcID* outProcID, AudioObjectID device, DispatchQueue* queue, AudioDeviceIOBlock block) override;
    OSStatus destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID procID) override;
    OSStatus deviceStart(AudioObjectID device, AudioDeviceIOProcID procID) override;
    OSStatus deviceStop(AudioObjectID device, AudioDeviceIOProcID procID) override;

    // Changing the scene. Each change fires the listeners of the properties it changes.
    AudioObjectID addDevice(SceneDevice device);
    bool removeDevice(const QString& uid);
    bool setDefaultOutputDevice(const QString& uid);
    bool setDeviceName(const QString& uid, const std::optional<QString>& name);
    AudioObjectID addProcess(SceneProcess process);
    bool removeProcess(AudioObjectID object);
    bool setProcessPlaying(AudioObjectID object, bool playing);
    bool setProcessSignal(AudioObjectID object, SceneSignal signal);

    /// The next `count` calls of `call` return `status` (count < 0: every call from now on). With `selector`
    /// or `object` set, only property reads of that selector, or calls on that object, are affected.
    void failNext(SimCall call, OSStatus status, int count = 1, AudioObjectPropertySelector selector = 0,
        AudioObjectID object = 0);
    /// Forgets the failures that are still waiting for their calls.
    void clearFailures();
    /// How often each call was made (successful or not).
    int callCount(SimCall call) const;
    /// Every call made so far, in order, with the selector of property reads.
    struct LoggedCall {
        SimCall call;
        AudioObjectPropertySelector selector = 0;
        bool operator==(const LoggedCall&) const = default;
    };
    std::vector<LoggedCall> callLog() const;

    /// What is alive that the program created.
    struct Inventory {
        std::vector<AudioObjectID> taps;
        std::vector<AudioObjectID> aggregateDevices;
        int ioProcs = 0;
        int runningIOProcs = 0;
        bool empty() const { return taps.empty() && aggregateDevices.empty() && ioProcs == 0; }
    };
    Inventory inventory() const;
    /// The description an aggregate device was created with (empty when there is no such device).
    CFDictionary aggregateDescription(AudioObjectID device) const;
    /// The description a tap was created with.
    std::optional<CATapDescription> tapDescription(AudioObjectID tap) const;

    /// How many reads of its is-alive property a new aggregate device answers "not alive" (2 unless set).
    void setAggregateAliveAfterReads(int reads);

    /// Renders `frames` frames on every device, in IO cycles of bufferFrames() (the last one may be shorter).
    void advance(std::uint32_t frames);
    std::uint32_t bufferFrames() const { return m_renderer.bufferFrames(); }
    void setBufferFrames(std::uint32_t frames);
    /// Everything the output device with this UID played since the last call, interleaved over all its output
    /// channels (the channel count is outputChannels(uid)). Empty for an unknown device.
    std::vector<float> takePlayed(const QString& uid);
    std::uint32_t outputChannels(const QString& uid) const;
    /// Runs advance() on a thread, paced to the wall clock, until stopRealTime() or destruction.
    void startRealTime();
    void stopRealTime();

    AudioObjectID objectForDevice(const QString& uid) const;
    /// The UID of the system default output device, read without counting as a call or meeting an injected
    /// failure (empty when there is none).
    QString defaultOutputUID() const;
    std::vector<AudioObjectID> processObjects() const;

private:
    using Device = SimDevice;
    using Process = SimProcess;
    using Tap = SimTap;
    using IOProc = SimIOProc;
    struct Listener {
        AudioObjectID object = 0;
        AudioObjectPropertyAddress address;
        DispatchQueue* queue = nullptr;
        AudioObjectPropertyListenerBlock block;
    };
    struct Failure {
        SimCall call;
        OSStatus status;
        int remaining;
        AudioObjectPropertySelector selector;
        AudioObjectID object;
    };

    OSStatus injected(SimCall call, AudioObjectID object, AudioObjectPropertySelector selector);
    OSStatus readProperty(
        AudioObjectID object, const AudioObjectPropertyAddress& address, std::vector<std::byte>& bytes);
    void notify(std::vector<AudioObjectPropertyAddress> addresses, AudioObjectID object = kAudioObjectSystemObject);
    Device* device(AudioObjectID id);
    const Device* device(AudioObjectID id) const;
    Device* deviceByUID(const QString& uid);
    const Tap* tapByUID(const QString& uid) const;
    AudioObjectID defaultOutputLocked() const;
    std::vector<std::uint32_t> inputStreamsOf(const Device& d) const;
    std::vector<std::uint32_t> outputStreamsOf(const Device& d) const;

    mutable std::recursive_mutex m_mutex;
    std::map<AudioObjectID, Device> m_devices; // keyed by object ID; listing order is creation order
    std::vector<AudioObjectID> m_deviceOrder;
    std::map<AudioObjectID, Process> m_processes;
    std::vector<AudioObjectID> m_processOrder;
    std::map<AudioObjectID, Tap> m_taps;
    std::map<std::uintptr_t, IOProc> m_ioProcs;
    std::uintptr_t m_nextProcID = 1;
    AudioObjectID m_defaultOutput = 0;
    AudioObjectID m_nextObject = 2;
    std::vector<Listener> m_listeners;
    std::vector<Failure> m_failures;
    std::map<SimCall, int> m_calls;
    std::vector<LoggedCall> m_log;
    int m_aliveAfterReads = 2; // the HAL takes a moment to publish a new aggregate device

    // Last, so that its pacing thread stops before the objects it plays go.
    SimulatedAudioRenderer m_renderer { m_mutex, m_devices, m_processes, m_processOrder, m_taps, m_ioProcs,
        m_defaultOutput };
};

} // namespace sonaric
