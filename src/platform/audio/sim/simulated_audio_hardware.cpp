// The simulated hardware's objects and everything the program asks of them: property reads, listeners, scene
// changes, taps, aggregate devices, IO procs and injected failures (rendering is SimulatedAudioRenderer's).
// Past 600 lines because the property reads keep the HAL's binary layout for every selector the program reads,
// and they stay beside the object records they read so a new property is one case in one place.

#include "platform/audio/sim/simulated_audio_hardware.h"

#include "platform/audio/property_data.h"
#include "platform/dispatch_queue.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace sonaric
{
namespace
{

QString stringValue(const CFDictionary& dictionary, const char* key)
{
    const QVariant value = dictionary.value(QString::fromLatin1(key));
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

QVariantList listValue(const CFDictionary& dictionary, const char* key)
{
    return dictionary.value(QString::fromLatin1(key)).toList();
}

} // namespace

SimulatedAudioHardware::SimulatedAudioHardware(const Scene& scene)
{
    std::set<AudioObjectID> reserved;
    for (const auto& d : scene.devices)
        if (d.objectID)
            reserved.insert(d.objectID);
    for (const auto& p : scene.processes)
        if (p.objectID)
            reserved.insert(p.objectID);
    auto nextFree = [&] {
        while (reserved.contains(m_nextObject))
            ++m_nextObject;
        return m_nextObject++;
    };
    for (const auto& entry : scene.devices) {
        Device d;
        d.id = entry.objectID ? entry.objectID : nextFree();
        d.scene = entry;
        if (entry.isDefaultOutput)
            m_defaultOutput = d.id;
        m_deviceOrder.push_back(d.id);
        m_devices.emplace(d.id, std::move(d));
    }
    for (const auto& entry : scene.processes) {
        Process p;
        p.id = entry.objectID ? entry.objectID : nextFree();
        p.scene = entry;
        m_processOrder.push_back(p.id);
        m_processes.emplace(p.id, std::move(p));
    }
    if (!reserved.empty())
        m_nextObject = std::max(m_nextObject, *reserved.rbegin() + 1);
}

SimulatedAudioHardware::~SimulatedAudioHardware()
{
    stopRealTime();
}

// MARK: Property reads

OSStatus SimulatedAudioHardware::injected(SimCall call, AudioObjectID object, AudioObjectPropertySelector selector)
{
    ++m_calls[call];
    m_log.push_back({ call, selector });
    for (auto& f : m_failures) {
        if (f.call != call || f.remaining == 0)
            continue;
        if (f.selector && f.selector != selector)
            continue;
        if (f.object && f.object != object)
            continue;
        if (f.remaining > 0)
            --f.remaining;
        return f.status;
    }
    return noErr;
}

SimulatedAudioHardware::Device* SimulatedAudioHardware::device(AudioObjectID id)
{
    auto it = m_devices.find(id);
    return it == m_devices.end() ? nullptr : &it->second;
}

const SimulatedAudioHardware::Device* SimulatedAudioHardware::device(AudioObjectID id) const
{
    auto it = m_devices.find(id);
    return it == m_devices.end() ? nullptr : &it->second;
}

SimulatedAudioHardware::Device* SimulatedAudioHardware::deviceByUID(const QString& uid)
{
    for (auto& [id, d] : m_devices)
        if (d.scene.uid == uid)
            return &d;
    return nullptr;
}

const SimulatedAudioHardware::Tap* SimulatedAudioHardware::tapByUID(const QString& uid) const
{
    for (const auto& [id, t] : m_taps)
        if (t.description.uuid == uid)
            return &t;
    return nullptr;
}

AudioObjectID SimulatedAudioHardware::defaultOutputLocked() const
{
    return m_defaultOutput;
}

std::vector<std::uint32_t> SimulatedAudioHardware::inputStreamsOf(const Device& d) const
{
    if (!d.isAggregate)
        return d.scene.inputStreams;
    std::vector<std::uint32_t> streams;
    if (const Device* sub = device(d.subDevice))
        streams = sub->scene.inputStreams;
    for (std::size_t i = 0; i < d.taps.size(); ++i)
        streams.push_back(2);
    return streams;
}

std::vector<std::uint32_t> SimulatedAudioHardware::outputStreamsOf(const Device& d) const
{
    if (!d.isAggregate)
        return d.scene.outputStreams;
    const Device* sub = device(d.subDevice);
    return sub ? sub->scene.outputStreams : std::vector<std::uint32_t> {};
}

OSStatus SimulatedAudioHardware::getPropertyDataSize(
    AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* outDataSize)
{
    std::lock_guard lock(m_mutex);
    if (OSStatus status = injected(SimCall::getPropertyDataSize, object, address.mSelector))
        return status;
    std::vector<std::byte> bytes;
    if (OSStatus status = readProperty(object, address, bytes))
        return status;
    *outDataSize = std::uint32_t(bytes.size());
    return noErr;
}

OSStatus SimulatedAudioHardware::getPropertyData(
    AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* ioDataSize, void* outData)
{
    std::lock_guard lock(m_mutex);
    if (OSStatus status = injected(SimCall::getPropertyData, object, address.mSelector))
        return status;
    std::vector<std::byte> bytes;
    if (OSStatus status = readProperty(object, address, bytes))
        return status;
    if (!ioDataSize || !outData)
        return kAudio_ParamError;
    const auto selector = address.mSelector;
    const bool isList = selector == kAudioHardwarePropertyDevices || selector == kAudioHardwarePropertyProcessObjectList
        || selector == kAudioHardwarePropertyTapList;
    // Lists deliver as many whole elements as fit; fixed-size values need all their room.
    if (*ioDataSize < bytes.size() && !isList)
        return kAudioHardwareBadPropertySizeError;
    const std::uint32_t n = std::min<std::uint32_t>(*ioDataSize, std::uint32_t(bytes.size()));
    std::memcpy(outData, bytes.data(), n);
    *ioDataSize = n;
    return noErr;
}

OSStatus SimulatedAudioHardware::readProperty(
    AudioObjectID object, const AudioObjectPropertyAddress& address, std::vector<std::byte>& bytes)
{
    const auto selector = address.mSelector;
    auto idList = [&](const std::vector<AudioObjectID>& ids) {
        for (AudioObjectID id : ids)
            appendPropertyValue(bytes, id);
    };

    if (object == kAudioObjectSystemObject) {
        if (selector == kAudioHardwarePropertyDevices) {
            idList(m_deviceOrder);
        } else if (selector == kAudioHardwarePropertyDefaultOutputDevice) {
            appendPropertyValue(bytes, defaultOutputLocked());
        } else if (selector == kAudioHardwarePropertyProcessObjectList) {
            idList(m_processOrder);
        } else if (selector == kAudioHardwarePropertyTapList) {
            for (const auto& [id, tap] : m_taps)
                appendPropertyValue(bytes, id);
        } else if (selector == kAudioObjectPropertyClass) {
            appendPropertyValue(bytes, kAudioSystemObjectClassID);
        } else {
            return kAudioHardwareUnknownPropertyError;
        }
    } else if (const Device* d = device(object)) {
        if (selector == kAudioDevicePropertyTransportType) {
            appendPropertyValue(bytes, d->isAggregate ? kAudioDeviceTransportTypeAggregate : d->scene.transport);
        } else if (selector == kAudioDevicePropertyDeviceCanBeDefaultDevice) {
            std::uint32_t can = 0;
            if (!d->isAggregate && address.mScope == kAudioObjectPropertyScopeOutput)
                can = d->scene.canBeDefaultOutput && !d->scene.outputStreams.empty();
            else if (!d->isAggregate && address.mScope == kAudioObjectPropertyScopeInput)
                can = !d->scene.inputStreams.empty();
            appendPropertyValue(bytes, can);
        } else if (selector == kAudioDevicePropertyDeviceIsAlive) {
            // A device that is listed is alive; a new aggregate device only after a few reads.
            std::uint32_t alive = 1;
            if (d->isAggregate && d->aliveAfterReads > 0) {
                alive = 0;
                --device(object)->aliveAfterReads;
            }
            appendPropertyValue(bytes, alive);
        } else if (selector == kAudioDevicePropertyNominalSampleRate) {
            double rate = d->scene.sampleRate;
            if (d->isAggregate) {
                const Device* sub = device(d->subDevice);
                rate = sub ? sub->scene.sampleRate : 48000.0;
            }
            appendPropertyValue(bytes, rate);
        } else if (selector == kAudioDevicePropertyStreamConfiguration) {
            if (address.mScope == kAudioObjectPropertyScopeInput)
                bytes = audioBufferListBytes(inputStreamsOf(*d));
            else if (address.mScope == kAudioObjectPropertyScopeOutput)
                bytes = audioBufferListBytes(outputStreamsOf(*d));
            else
                return kAudioHardwareUnknownPropertyError;
        } else if (selector == kAudioObjectPropertyClass) {
            appendPropertyValue(bytes, d->isAggregate ? kAudioAggregateDeviceClassID : kAudioDeviceClassID);
        } else {
            return kAudioHardwareUnknownPropertyError;
        }
    } else if (auto p = m_processes.find(object); p != m_processes.end()) {
        if (selector == kAudioProcessPropertyPID)
            appendPropertyValue(bytes, std::int32_t(p->second.scene.pid));
        else if (selector == kAudioProcessPropertyIsRunningOutput)
            appendPropertyValue(bytes, std::uint32_t(p->second.scene.playing));
        else if (selector == kAudioObjectPropertyClass)
            appendPropertyValue(bytes, kAudioProcessClassID);
        else
            return kAudioHardwareUnknownPropertyError;
    } else if (m_taps.contains(object)) {
        if (selector == kAudioObjectPropertyClass)
            appendPropertyValue(bytes, kAudioTapClassID);
        else
            return kAudioHardwareUnknownPropertyError;
    } else {
        return kAudioHardwareBadObjectError;
    }

    return noErr;
}

OSStatus SimulatedAudioHardware::isPropertySettable(
    AudioObjectID object, const AudioObjectPropertyAddress& address, bool* outIsSettable)
{
    std::lock_guard lock(m_mutex);
    std::vector<std::byte> bytes;
    if (OSStatus status = readProperty(object, address, bytes))
        return status;
    if (!outIsSettable)
        return kAudio_ParamError;
    *outIsSettable = false;
    return noErr;
}

OSStatus SimulatedAudioHardware::setPropertyData(
    AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t, const void*)
{
    std::lock_guard lock(m_mutex);
    std::vector<std::byte> bytes;
    if (OSStatus status = readProperty(object, address, bytes))
        return status;
    return kAudioHardwareIllegalOperationError;
}

OSStatus SimulatedAudioHardware::getPropertyString(
    AudioObjectID object, const AudioObjectPropertyAddress& address, QString* outValue)
{
    std::lock_guard lock(m_mutex);
    if (OSStatus status = injected(SimCall::getPropertyData, object, address.mSelector))
        return status;
    const auto selector = address.mSelector;
    if (const Device* d = device(object)) {
        if (selector == kAudioDevicePropertyDeviceUID) {
            *outValue = d->scene.uid;
            return noErr;
        }
        if (selector == kAudioObjectPropertyName) {
            if (!d->scene.name)
                return kAudioHardwareUnknownPropertyError;
            *outValue = *d->scene.name;
            return noErr;
        }
        return kAudioHardwareUnknownPropertyError;
    }
    if (auto p = m_processes.find(object); p != m_processes.end()) {
        if (selector == kAudioObjectPropertyName && !p->second.scene.name.isNull()) {
            *outValue = p->second.scene.name;
            return noErr;
        }
        if (selector != kAudioProcessPropertyBundleID)
            return kAudioHardwareUnknownPropertyError;
        // A process without an identifier reads as an empty string, as on the real HAL.
        *outValue = p->second.scene.bundleID.isNull() ? QStringLiteral("") : p->second.scene.bundleID;
        return noErr;
    }
    if (auto t = m_taps.find(object); t != m_taps.end()) {
        if (selector == kAudioTapPropertyUID) {
            *outValue = t->second.description.uuid;
            return noErr;
        }
        if (selector == kAudioObjectPropertyName) {
            *outValue = t->second.description.name;
            return noErr;
        }
        return kAudioHardwareUnknownPropertyError;
    }
    return object == kAudioObjectSystemObject ? kAudioHardwareUnknownPropertyError : kAudioHardwareBadObjectError;
}

// MARK: Listeners

OSStatus SimulatedAudioHardware::addPropertyListenerBlock(AudioObjectID object,
    const AudioObjectPropertyAddress& address, DispatchQueue& queue, AudioObjectPropertyListenerBlock block)
{
    std::lock_guard lock(m_mutex);
    if (OSStatus status = injected(SimCall::addPropertyListener, object, address.mSelector))
        return status;
    if (!block)
        return kAudio_ParamError;
    m_listeners.push_back({ object, address, &queue, std::move(block) });
    return noErr;
}

void SimulatedAudioHardware::notify(std::vector<AudioObjectPropertyAddress> addresses, AudioObjectID object)
{
    std::vector<std::pair<DispatchQueue*, std::function<void()>>> calls;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& address : addresses) {
            for (const auto& l : m_listeners) {
                if (l.object != object || l.address.mSelector != address.mSelector)
                    continue;
                auto block = l.block;
                calls.emplace_back(l.queue, [block, address] { block(1, &address); });
            }
        }
    }
    for (auto& [queue, call] : calls)
        queue->async(std::move(call));
}

// MARK: Scene changes

AudioObjectID SimulatedAudioHardware::addDevice(SceneDevice entry)
{
    std::vector<AudioObjectPropertyAddress> changed { globalAddress(kAudioHardwarePropertyDevices) };
    AudioObjectID id;
    {
        std::lock_guard lock(m_mutex);
        if (deviceByUID(entry.uid))
            return 0;
        Device d;
        d.id = id = entry.objectID && !device(entry.objectID) ? entry.objectID : m_nextObject++;
        d.scene = std::move(entry);
        if (d.scene.isDefaultOutput
            || (m_defaultOutput == 0 && d.scene.canBeDefaultOutput && !d.scene.outputStreams.empty())) {
            m_defaultOutput = id;
            changed.push_back(globalAddress(kAudioHardwarePropertyDefaultOutputDevice));
        }
        m_deviceOrder.push_back(id);
        m_devices.emplace(id, std::move(d));
        // Aggregate devices built on this UID come back to life when it returns.
        for (auto& [aid, agg] : m_devices) {
            if (agg.isAggregate
                && stringValue(agg.description, kAudioAggregateDeviceMainSubDeviceKey) == m_devices.at(id).scene.uid)
                agg.subDevice = id;
        }
    }
    notify(changed);
    return id;
}

bool SimulatedAudioHardware::removeDevice(const QString& uid)
{
    std::vector<AudioObjectPropertyAddress> changed { globalAddress(kAudioHardwarePropertyDevices) };
    {
        std::lock_guard lock(m_mutex);
        Device* d = deviceByUID(uid);
        if (!d || d->isAggregate)
            return false;
        const AudioObjectID id = d->id;
        m_devices.erase(id);
        std::erase(m_deviceOrder, id);
        // An aggregate device whose sub-device vanished stops delivering IO.
        for (auto& [aid, agg] : m_devices)
            if (agg.isAggregate && agg.subDevice == id)
                agg.subDevice = 0;
        if (m_defaultOutput == id) {
            m_defaultOutput = 0;
            for (AudioObjectID other : m_deviceOrder) {
                const Device& o = m_devices.at(other);
                if (!o.isAggregate && o.scene.transport != kAudioDeviceTransportTypeAggregate
                    && o.scene.canBeDefaultOutput && !o.scene.outputStreams.empty()) {
                    m_defaultOutput = other;
                    break;
                }
            }
            changed.push_back(globalAddress(kAudioHardwarePropertyDefaultOutputDevice));
        }
    }
    notify(changed);
    return true;
}

bool SimulatedAudioHardware::setDefaultOutputDevice(const QString& uid)
{
    {
        std::lock_guard lock(m_mutex);
        Device* d = deviceByUID(uid);
        if (!d || d->isAggregate)
            return false;
        if (m_defaultOutput == d->id)
            return true;
        m_defaultOutput = d->id;
    }
    notify({ globalAddress(kAudioHardwarePropertyDefaultOutputDevice) });
    return true;
}

bool SimulatedAudioHardware::setDeviceName(const QString& uid, const std::optional<QString>& name)
{
    AudioObjectID id;
    {
        std::lock_guard lock(m_mutex);
        Device* d = deviceByUID(uid);
        if (!d)
            return false;
        d->scene.name = name;
        id = d->id;
    }
    notify({ globalAddress(kAudioObjectPropertyName) }, id);
    return true;
}

AudioObjectID SimulatedAudioHardware::addProcess(SceneProcess entry)
{
    AudioObjectID id;
    {
        std::lock_guard lock(m_mutex);
        Process p;
        p.id = id = entry.objectID && !m_processes.contains(entry.objectID) && !device(entry.objectID) ? entry.objectID
                                                                                                       : m_nextObject++;
        p.scene = std::move(entry);
        m_processOrder.push_back(id);
        m_processes.emplace(id, std::move(p));
    }
    notify({ globalAddress(kAudioHardwarePropertyProcessObjectList) });
    return id;
}

bool SimulatedAudioHardware::removeProcess(AudioObjectID object)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_processes.erase(object))
            return false;
        std::erase(m_processOrder, object);
    }
    notify({ globalAddress(kAudioHardwarePropertyProcessObjectList) });
    return true;
}

bool SimulatedAudioHardware::setProcessPlaying(AudioObjectID object, bool playing)
{
    {
        std::lock_guard lock(m_mutex);
        auto p = m_processes.find(object);
        if (p == m_processes.end())
            return false;
        if (p->second.scene.playing == playing)
            return true;
        p->second.scene.playing = playing;
    }
    // The HAL reports a change of a process's own property on the process, not on the system object.
    notify({ globalAddress(kAudioProcessPropertyIsRunningOutput) }, object);
    return true;
}

bool SimulatedAudioHardware::setProcessSignal(AudioObjectID object, SceneSignal signal)
{
    std::lock_guard lock(m_mutex);
    auto p = m_processes.find(object);
    if (p == m_processes.end())
        return false;
    p->second.scene.signal = signal;
    return true;
}

// MARK: Taps and aggregate devices

OSStatus SimulatedAudioHardware::createProcessTap(const CATapDescription& description, AudioObjectID* outTapID)
{
    AudioObjectID id;
    {
        std::lock_guard lock(m_mutex);
        if (OSStatus status = injected(SimCall::createProcessTap, 0, 0))
            return status;
        if (!outTapID || description.uuid.isEmpty() || tapByUID(description.uuid))
            return kAudio_ParamError;
        for (AudioObjectID p : description.processes)
            if (!m_processes.contains(p))
                return kAudioHardwareBadObjectError;
        id = m_nextObject++;
        m_taps.emplace(id, Tap { id, description });
        *outTapID = id;
    }
    notify({ globalAddress(kAudioHardwarePropertyTapList) });
    return noErr;
}

OSStatus SimulatedAudioHardware::destroyProcessTap(AudioObjectID tapID)
{
    {
        std::lock_guard lock(m_mutex);
        if (OSStatus status = injected(SimCall::destroyProcessTap, tapID, 0))
            return status;
        if (!m_taps.erase(tapID))
            return kAudioHardwareBadObjectError;
        for (auto& [id, d] : m_devices)
            std::erase(d.taps, tapID);
    }
    notify({ globalAddress(kAudioHardwarePropertyTapList) });
    return noErr;
}

OSStatus SimulatedAudioHardware::createAggregateDevice(const CFDictionary& description, AudioObjectID* outDeviceID)
{
    AudioObjectID id;
    {
        std::lock_guard lock(m_mutex);
        if (OSStatus status = injected(SimCall::createAggregateDevice, 0, 0))
            return status;
        const QString uid = stringValue(description, kAudioAggregateDeviceUIDKey);
        if (!outDeviceID || uid.isEmpty() || deviceByUID(uid))
            return kAudio_ParamError;

        AudioObjectID sub = 0;
        for (const QVariant& entry : listValue(description, kAudioAggregateDeviceSubDeviceListKey)) {
            const Device* d = deviceByUID(stringValue(entry.toMap(), kAudioSubDeviceUIDKey));
            if (!d || d->isAggregate)
                return kAudioHardwareBadDeviceError;
            if (!sub)
                sub = d->id;
        }
        const QString main = stringValue(description, kAudioAggregateDeviceMainSubDeviceKey);
        if (!main.isEmpty() && (!sub || device(sub)->scene.uid != main))
            return kAudioHardwareBadDeviceError;
        std::vector<AudioObjectID> taps;
        for (const QVariant& entry : listValue(description, kAudioAggregateDeviceTapListKey)) {
            const Tap* t = tapByUID(stringValue(entry.toMap(), kAudioSubTapUIDKey));
            if (!t)
                return kAudioHardwareBadObjectError;
            taps.push_back(t->id);
        }

        Device d;
        d.id = id = m_nextObject++;
        d.isAggregate = true;
        d.description = description;
        d.scene.uid = uid;
        d.scene.name = stringValue(description, kAudioAggregateDeviceNameKey);
        d.scene.transport = kAudioDeviceTransportTypeAggregate;
        d.scene.canBeDefaultOutput = false;
        d.subDevice = sub;
        d.taps = std::move(taps);
        d.aliveAfterReads = m_aliveAfterReads;
        m_deviceOrder.push_back(id);
        m_devices.emplace(id, std::move(d));
        *outDeviceID = id;
    }
    notify({ globalAddress(kAudioHardwarePropertyDevices) });
    return noErr;
}

OSStatus SimulatedAudioHardware::destroyAggregateDevice(AudioObjectID deviceID)
{
    {
        std::lock_guard lock(m_mutex);
        if (OSStatus status = injected(SimCall::destroyAggregateDevice, deviceID, 0))
            return status;
        const Device* d = device(deviceID);
        if (!d || !d->isAggregate)
            return kAudioHardwareBadObjectError;
        // Destroying a device takes its IO procs with it.
        std::erase_if(m_ioProcs, [&](const auto& entry) { return entry.second.device == deviceID; });
        m_devices.erase(deviceID);
        std::erase(m_deviceOrder, deviceID);
    }
    notify({ globalAddress(kAudioHardwarePropertyDevices) });
    return noErr;
}

// MARK: IO procs

OSStatus SimulatedAudioHardware::createIOProcIDWithBlock(
    AudioDeviceIOProcID* outProcID, AudioObjectID deviceID, DispatchQueue*, AudioDeviceIOBlock block)
{
    std::lock_guard lock(m_mutex);
    if (OSStatus status = injected(SimCall::createIOProc, deviceID, 0))
        return status;
    if (!outProcID || !block)
        return kAudio_ParamError;
    if (!device(deviceID))
        return kAudioHardwareBadDeviceError;
    const std::uintptr_t handle = m_nextProcID++;
    m_ioProcs.emplace(handle, IOProc { deviceID, std::move(block), false });
    *outProcID = reinterpret_cast<AudioDeviceIOProcID>(handle);
    return noErr;
}

OSStatus SimulatedAudioHardware::destroyIOProcID(AudioObjectID deviceID, AudioDeviceIOProcID procID)
{
    std::lock_guard lock(m_mutex);
    if (OSStatus status = injected(SimCall::destroyIOProc, deviceID, 0))
        return status;
    auto it = m_ioProcs.find(reinterpret_cast<std::uintptr_t>(procID));
    if (it == m_ioProcs.end() || it->second.device != deviceID)
        return kAudioHardwareBadObjectError;
    m_ioProcs.erase(it);
    return noErr;
}

OSStatus SimulatedAudioHardware::deviceStart(AudioObjectID deviceID, AudioDeviceIOProcID procID)
{
    std::lock_guard lock(m_mutex);
    if (OSStatus status = injected(SimCall::deviceStart, deviceID, 0))
        return status;
    auto it = m_ioProcs.find(reinterpret_cast<std::uintptr_t>(procID));
    if (!device(deviceID) || it == m_ioProcs.end() || it->second.device != deviceID)
        return kAudioHardwareBadDeviceError;
    it->second.running = true;
    return noErr;
}

OSStatus SimulatedAudioHardware::deviceStop(AudioObjectID deviceID, AudioDeviceIOProcID procID)
{
    std::lock_guard lock(m_mutex);
    if (OSStatus status = injected(SimCall::deviceStop, deviceID, 0))
        return status;
    auto it = m_ioProcs.find(reinterpret_cast<std::uintptr_t>(procID));
    if (it == m_ioProcs.end() || it->second.device != deviceID)
        return kAudioHardwareBadDeviceError;
    it->second.running = false;
    return noErr;
}

// MARK: Fault injection and inventory

void SimulatedAudioHardware::failNext(
    SimCall call, OSStatus status, int count, AudioObjectPropertySelector selector, AudioObjectID object)
{
    std::lock_guard lock(m_mutex);
    m_failures.push_back({ call, status, count, selector, object });
}

void SimulatedAudioHardware::clearFailures()
{
    std::lock_guard lock(m_mutex);
    m_failures.clear();
}

int SimulatedAudioHardware::callCount(SimCall call) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_calls.find(call);
    return it == m_calls.end() ? 0 : it->second;
}

std::vector<SimulatedAudioHardware::LoggedCall> SimulatedAudioHardware::callLog() const
{
    std::lock_guard lock(m_mutex);
    return m_log;
}

SimulatedAudioHardware::Inventory SimulatedAudioHardware::inventory() const
{
    std::lock_guard lock(m_mutex);
    Inventory inv;
    for (const auto& [id, tap] : m_taps)
        inv.taps.push_back(id);
    for (AudioObjectID id : m_deviceOrder)
        if (m_devices.at(id).isAggregate)
            inv.aggregateDevices.push_back(id);
    for (const auto& [handle, proc] : m_ioProcs) {
        ++inv.ioProcs;
        inv.runningIOProcs += proc.running;
    }
    return inv;
}

CFDictionary SimulatedAudioHardware::aggregateDescription(AudioObjectID deviceID) const
{
    std::lock_guard lock(m_mutex);
    const Device* d = device(deviceID);
    return d && d->isAggregate ? d->description : CFDictionary {};
}

std::optional<CATapDescription> SimulatedAudioHardware::tapDescription(AudioObjectID tap) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_taps.find(tap);
    if (it == m_taps.end())
        return std::nullopt;
    return it->second.description;
}

AudioObjectID SimulatedAudioHardware::objectForDevice(const QString& uid) const
{
    std::lock_guard lock(m_mutex);
    for (const auto& [id, d] : m_devices)
        if (d.scene.uid == uid)
            return id;
    return 0;
}

QString SimulatedAudioHardware::defaultOutputUID() const
{
    std::lock_guard lock(m_mutex);
    const Device* d = device(m_defaultOutput);
    return d ? d->scene.uid : QString();
}

std::vector<AudioObjectID> SimulatedAudioHardware::processObjects() const
{
    std::lock_guard lock(m_mutex);
    return m_processOrder;
}

// MARK: Rendering

void SimulatedAudioHardware::setAggregateAliveAfterReads(int reads)
{
    std::lock_guard lock(m_mutex);
    m_aliveAfterReads = std::max(reads, 0);
}

void SimulatedAudioHardware::setBufferFrames(std::uint32_t frames)
{
    m_renderer.setBufferFrames(frames);
}

void SimulatedAudioHardware::advance(std::uint32_t frames)
{
    m_renderer.advance(frames);
}

std::vector<float> SimulatedAudioHardware::takePlayed(const QString& uid)
{
    return m_renderer.takePlayed(uid);
}

std::uint32_t SimulatedAudioHardware::outputChannels(const QString& uid) const
{
    std::lock_guard lock(m_mutex);
    for (const auto& [id, d] : m_devices)
        if (d.scene.uid == uid)
            return totalChannels(outputStreamsOf(d));
    return 0;
}

void SimulatedAudioHardware::startRealTime()
{
    m_renderer.startRealTime();
}

void SimulatedAudioHardware::stopRealTime()
{
    m_renderer.stopRealTime();
}

} // namespace sonaric
