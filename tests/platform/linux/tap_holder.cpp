// Stands in for Sonaric in the crash tests: taps one process (by pid) at a gain through the audio hardware
// interface, prints "ready" once the process's streams are in the tap, then waits to be killed.
//
//   sonaric-tap-holder --pid PID --gain G [--journal PATH] [--level 1 [--device SINK]]
//
// With --level the process gets the gain (at most 1) and the device as its own level on the server instead.

#include "platform/audio/linux/pulse_audio_hardware.h"
#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_query.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

using namespace sonaric;

namespace
{

AudioObjectID processOf(PulseAudioHardware& hw, pid_t pid)
{
    std::uint32_t size = 0;
    if (hw.getPropertyDataSize(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyProcessObjectList), &size))
        return 0;
    std::vector<AudioObjectID> ids(size / 4);
    hw.getPropertyData(
        kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyProcessObjectList), &size, ids.data());
    for (AudioObjectID id : ids) {
        std::int32_t p = 0;
        std::uint32_t s = 4;
        if (hw.getPropertyData(id, globalAddress(kAudioProcessPropertyPID), &s, &p) == noErr && p == pid)
            return id;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    pid_t pid = 0;
    float gain = 1.0f;
    bool level = false;
    QString deviceName;
    PulseAudioHardware::Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--pid"))
            pid = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--gain"))
            gain = float(std::atof(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--latency-ms"))
            options.latencyMs = std::uint32_t(std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--journal"))
            options.journalPath = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--level"))
            level = std::atoi(argv[i + 1]) != 0;
        else if (!std::strcmp(argv[i], "--device"))
            deviceName = QString::fromLocal8Bit(argv[i + 1]);
    }
    options.watchdogPath = QStringLiteral(SONARIC_WATCHDOG);
    QString error;
    auto hw = PulseAudioHardware::connect(options, &error);
    if (!hw) {
        std::fprintf(stderr, "connect: %s\n", qPrintable(error));
        return 1;
    }
    AudioObjectID process = 0;
    for (int i = 0; i < 100 && !process; ++i) {
        process = processOf(*hw, pid);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    AudioObjectID device = 0;
    std::uint32_t size = 4;
    hw->getPropertyData(
        kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDefaultOutputDevice), &size, &device);
    QString uid;
    hw->getPropertyString(device, globalAddress(kAudioDevicePropertyDeviceUID), &uid);

    if (level) {
        if (hw->setPropertyData(process, globalAddress(kAudioProcessPropertyVolumeScalar), sizeof gain, &gain) != noErr)
            return 6;
        std::uint32_t listSize = 0;
        hw->getPropertyDataSize(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDevices), &listSize);
        std::vector<AudioObjectID> devices(listSize / 4);
        hw->getPropertyData(
            kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDevices), &listSize, devices.data());
        for (AudioObjectID candidate : devices) {
            QString candidateUid;
            hw->getPropertyString(candidate, globalAddress(kAudioDevicePropertyDeviceUID), &candidateUid);
            if (!deviceName.isEmpty() && candidateUid == deviceName
                && hw->setPropertyData(process, globalAddress(kAudioProcessPropertyOutputDevice), 4, &candidate)
                    != noErr)
                return 7;
        }
        std::printf("ready\n");
        std::fflush(stdout);
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }

    auto description = CATapDescription::stereoMixdownOfProcesses({ process });
    description.uuid = QStringLiteral("holder-%1").arg(getpid());
    description.muteBehavior = CATapMuteBehavior::CATapMutedWhenTapped;
    AudioObjectID tap = 0, aggregate = 0;
    if (hw->createProcessTap(description, &tap) != noErr)
        return 3;
    const QVariantMap dictionary { { "name", "holder" }, { "uid", QStringLiteral("holder.%1").arg(getpid()) },
        { "master", uid }, { "private", true }, { "stacked", false }, { "tapautostart", true },
        { "subdevices", QVariantList { QVariantMap { { "uid", uid } } } },
        { "taps", QVariantList { QVariantMap { { "uid", description.uuid }, { "drift", true } } } } };
    if (hw->createAggregateDevice(dictionary, &aggregate) != noErr)
        return 4;
    AudioDeviceIOProcID proc = nullptr;
    hw->createIOProcIDWithBlock(&proc, aggregate, nullptr,
        [gain](const AudioTimeStamp*, const AudioBufferList* in, const AudioTimeStamp*, AudioBufferList* out,
            const AudioTimeStamp*) {
            const auto& src = in->mBuffers[in->mNumberBuffers - 1];
            auto& dst = out->mBuffers[0];
            const auto* s = static_cast<const float*>(src.mData);
            auto* d = static_cast<float*>(dst.mData);
            const std::uint32_t frames = dst.mDataByteSize / 4 / dst.mNumberChannels;
            for (std::uint32_t f = 0; f < frames; ++f)
                for (std::uint32_t c = 0; c < dst.mNumberChannels; ++c)
                    d[f * dst.mNumberChannels + c] = c < 2 ? gain * s[f * 2 + c] : 0.0f;
        });
    if (hw->deviceStart(aggregate, proc) != noErr)
        return 5;
    for (int i = 0; i < 200 && !hw->isTapping(aggregate); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::printf("%s\n", hw->isTapping(aggregate) ? "ready" : "not tapping");
    std::fflush(stdout);
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(1));
}
