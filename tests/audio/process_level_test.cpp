// The engine on a platform whose processes have a volume, a mute and an output device of their own: the
// simulated system with those three properties added by a wrapper that records every change in order.

#include "audio/tap_engine.h"
#include "platform/audio/sim/simulated_audio_hardware.h"

#include "support/scenes.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

/// What a process carries; the neutral values are its own.
struct Carried {
    float volume = 1.0f;
    std::uint32_t mute = 0;
    AudioObjectID device = kAudioObjectUnknown;
    bool operator==(const Carried&) const = default;
};

/// The simulated system plus settable process levels. Every call that changes something is logged as
/// "<call> <object>", property changes as "<selector> <object>=<value>".
class LevelCarryingHardware final : public AudioHardware
{
public:
    explicit LevelCarryingHardware(Scene scene)
        : sim(std::move(scene))
    {
    }

    OSStatus getPropertyDataSize(AudioObjectID o, const AudioObjectPropertyAddress& a, std::uint32_t* s) override
    {
        return sim.getPropertyDataSize(o, a, s);
    }
    OSStatus getPropertyData(AudioObjectID o, const AudioObjectPropertyAddress& a, std::uint32_t* s, void* d) override
    {
        return sim.getPropertyData(o, a, s, d);
    }
    OSStatus getPropertyString(AudioObjectID o, const AudioObjectPropertyAddress& a, QString* v) override
    {
        return sim.getPropertyString(o, a, v);
    }
    OSStatus isPropertySettable(AudioObjectID object, const AudioObjectPropertyAddress& address, bool* out) override
    {
        if (!isLevelProperty(address.mSelector))
            return sim.isPropertySettable(object, address, out);
        *out = true;
        return isProcess(object) ? noErr : kAudioHardwareBadObjectError;
    }
    OSStatus setPropertyData(
        AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t size, const void* data) override
    {
        if (!isLevelProperty(address.mSelector))
            return sim.setPropertyData(object, address, size, data);
        if (!isProcess(object))
            return kAudioHardwareBadObjectError;
        std::lock_guard lock(mutex);
        if (failing == address.mSelector)
            return kAudioHardwareUnspecifiedError;
        Carried& c = carried[object];
        QString value;
        if (address.mSelector == kAudioProcessPropertyVolumeScalar) {
            std::memcpy(&c.volume, data, sizeof c.volume);
            value = QString::number(c.volume);
        } else if (address.mSelector == kAudioProcessPropertyMute) {
            std::memcpy(&c.mute, data, sizeof c.mute);
            value = QString::number(c.mute);
        } else {
            std::memcpy(&c.device, data, sizeof c.device);
            value = QString::number(c.device);
        }
        log.push_back(QStringLiteral("%1 %2=%3").arg(fourCharString(address.mSelector)).arg(object).arg(value));
        return noErr;
    }
    OSStatus addPropertyListenerBlock(AudioObjectID o, const AudioObjectPropertyAddress& a, DispatchQueue& q,
        AudioObjectPropertyListenerBlock b) override
    {
        return sim.addPropertyListenerBlock(o, a, q, std::move(b));
    }
    OSStatus createProcessTap(const CATapDescription& description, AudioObjectID* out) override
    {
        return logged("createProcessTap", 0, sim.createProcessTap(description, out));
    }
    OSStatus destroyProcessTap(AudioObjectID tap) override
    {
        return logged("destroyProcessTap", tap, sim.destroyProcessTap(tap));
    }
    OSStatus createAggregateDevice(const CFDictionary& description, AudioObjectID* out) override
    {
        return sim.createAggregateDevice(description, out);
    }
    OSStatus destroyAggregateDevice(AudioObjectID device) override { return sim.destroyAggregateDevice(device); }
    OSStatus createIOProcIDWithBlock(
        AudioDeviceIOProcID* out, AudioObjectID device, DispatchQueue* queue, AudioDeviceIOBlock block) override
    {
        return sim.createIOProcIDWithBlock(out, device, queue, std::move(block));
    }
    OSStatus destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID proc) override
    {
        return sim.destroyIOProcID(device, proc);
    }
    OSStatus deviceStart(AudioObjectID device, AudioDeviceIOProcID proc) override
    {
        return logged("deviceStart", device, sim.deviceStart(device, proc));
    }
    OSStatus deviceStop(AudioObjectID device, AudioDeviceIOProcID proc) override
    {
        return sim.deviceStop(device, proc);
    }

    static bool isLevelProperty(AudioObjectPropertySelector selector)
    {
        return selector == kAudioProcessPropertyVolumeScalar || selector == kAudioProcessPropertyMute
            || selector == kAudioProcessPropertyOutputDevice;
    }
    bool isProcess(AudioObjectID object)
    {
        const auto processes = sim.processObjects();
        return std::find(processes.begin(), processes.end(), object) != processes.end();
    }
    Carried of(AudioObjectID process)
    {
        std::lock_guard lock(mutex);
        return carried.count(process) ? carried[process] : Carried {};
    }
    /// Where in the log the first entry starting with `prefix` is; -1 when none is.
    int indexOf(const QString& prefix)
    {
        std::lock_guard lock(mutex);
        for (std::size_t i = 0; i < log.size(); ++i)
            if (log[i].startsWith(prefix))
                return int(i);
        return -1;
    }

    SimulatedAudioHardware sim;
    std::mutex mutex;
    std::map<AudioObjectID, Carried> carried;
    std::vector<QString> log;
    AudioObjectPropertySelector failing = 0;

private:
    static QString fourCharString(std::uint32_t code)
    {
        const char text[] = { char(code >> 24), char(code >> 16), char(code >> 8), char(code), 0 };
        return QString::fromLatin1(text);
    }
    OSStatus logged(const char* call, AudioObjectID object, OSStatus status)
    {
        std::lock_guard lock(mutex);
        log.push_back(QStringLiteral("%1 %2").arg(QLatin1String(call)).arg(object));
        return status;
    }
};

struct Desk {
    Desk()
        : hw(scene())
        , engine(hw)
    {
        engine.setOnError([this](const QString& message) {
            std::lock_guard lock(hw.mutex);
            errors.push_back(message);
        });
        player = { hw.sim.processObjects()[0], hw.sim.processObjects()[1] };
    }

    static Scene scene()
    {
        Scene s;
        s.devices.push_back(outputDevice("spk", QStringLiteral("Speakers"), kAudioDeviceTransportTypeBuiltIn, true));
        s.devices.push_back(outputDevice("phones", QStringLiteral("Headphones"), kAudioDeviceTransportTypeBluetooth));
        s.processes = { process(100, QStringLiteral("com.example.player"), true),
            process(101, QStringLiteral("com.example.player.helper"), false) };
        return s;
    }

    /// What every process of the player carries, once the engine has done what was asked.
    std::vector<Carried> carried()
    {
        engine.taps();
        std::vector<Carried> all;
        for (AudioObjectID process : player)
            all.push_back(hw.of(process));
        return all;
    }

    LevelCarryingHardware hw;
    TapEngine engine;
    std::vector<AudioObjectID> player;
    std::vector<QString> errors;
};

const QString kPlayer = QStringLiteral("com.example.player");

} // namespace

TEST(ProcessLevel, LevelsUpToUnityAndRoutesNeedNoTap)
{
    Desk desk;
    const AudioObjectID phones = desk.hw.sim.objectForDevice("phones");
    struct Case {
        float gain;
        std::optional<QString> route;
        Carried expected;
    };
    const Case cases[] = {
        { 0.5f, std::nullopt, { 0.5f, 0, kAudioObjectUnknown } },
        { 0.0f, std::nullopt, { 0.5f, 1, kAudioObjectUnknown } }, // muting leaves the volume alone
        { 0.25f, std::nullopt, { 0.25f, 0, kAudioObjectUnknown } },
        { 1.0f, QStringLiteral("phones"), { 1.0f, 0, phones } },
        { 0.75f, QStringLiteral("phones"), { 0.75f, 0, phones } },
    };
    for (const Case& c : cases) {
        desk.engine.apply(kPlayer, desk.player, c.gain, c.route);
        EXPECT_EQ(desk.carried(), std::vector<Carried>(2, c.expected)) << c.gain;
        EXPECT_EQ(desk.engine.serverLevels(), (std::map<QString, float> { { kPlayer, c.gain } }));
        EXPECT_TRUE(desk.engine.taps().empty()) << c.gain;
    }
    EXPECT_EQ(desk.hw.sim.callCount(SimCall::createProcessTap), 0);

    desk.engine.apply(kPlayer, desk.player, 1.0f, std::nullopt);
    EXPECT_EQ(desk.carried(), std::vector<Carried>(2, Carried {})) << "unity on the default gives everything back";
    EXPECT_TRUE(desk.engine.serverLevels().empty());
    EXPECT_TRUE(desk.errors.empty());
}

TEST(ProcessLevel, CrossingUnityKeepsTheServerLevelUntilTheTapCarriesTheSound)
{
    Desk desk;
    const QString first = QStringLiteral("pvsc %1=").arg(desk.player[0]);
    desk.engine.apply(kPlayer, desk.player, 0.5f, std::nullopt);
    desk.engine.apply(kPlayer, desk.player, 2.0f, std::nullopt);
    EXPECT_EQ(desk.carried(), std::vector<Carried>(2, Carried {}));
    ASSERT_EQ(desk.engine.taps().size(), 1u);
    const int started = desk.hw.indexOf(QStringLiteral("deviceStart"));
    const int released = desk.hw.indexOf(first + QStringLiteral("1"));
    EXPECT_GE(started, 0);
    EXPECT_GT(released, started) << "the server keeps the level until the tap plays";

    desk.hw.log.clear();
    desk.engine.apply(kPlayer, desk.player, 0.5f, std::nullopt);
    EXPECT_EQ(desk.carried(), std::vector<Carried>(2, Carried { 0.5f, 0, kAudioObjectUnknown }));
    EXPECT_TRUE(desk.engine.taps().empty());
    const int taken = desk.hw.indexOf(first + QStringLiteral("0.5"));
    const int destroyed = desk.hw.indexOf(QStringLiteral("destroyProcessTap"));
    EXPECT_GE(taken, 0);
    EXPECT_GT(destroyed, taken) << "the server takes the level before the tap goes";
    EXPECT_TRUE(desk.hw.sim.inventory().empty());
}

TEST(ProcessLevel, APropertyThatFailsGetsATapAndKeepsNothingSet)
{
    for (AudioObjectPropertySelector failing :
        { kAudioProcessPropertyVolumeScalar, kAudioProcessPropertyMute, kAudioProcessPropertyOutputDevice }) {
        Desk desk;
        desk.hw.failing = failing;
        desk.engine.apply(kPlayer, desk.player, 0.5f, QStringLiteral("phones"));
        EXPECT_EQ(desk.engine.taps().size(), 1u) << failing;
        EXPECT_TRUE(desk.engine.serverLevels().empty()) << failing;
        desk.hw.failing = 0;
        desk.engine.stopAll();
        EXPECT_EQ(desk.carried(), std::vector<Carried>(2, Carried {})) << failing;
    }

    // The simulated system has no such properties at all: every level takes a tap there.
    SimulatedAudioHardware sim(Desk::scene());
    bool settable = true;
    EXPECT_EQ(
        sim.isPropertySettable(sim.processObjects()[0], globalAddress(kAudioProcessPropertyVolumeScalar), &settable),
        kAudioHardwareUnknownPropertyError);
    TapEngine engine(sim);
    engine.apply(kPlayer, { sim.processObjects()[0] }, 0.5f, std::nullopt);
    EXPECT_EQ(engine.taps().size(), 1u);
    EXPECT_TRUE(engine.serverLevels().empty());
}

TEST(ProcessLevel, RoutesFollowTheirDeviceAwayAndBackAndEverythingIsGivenBack)
{
    Desk desk;
    const AudioObjectID speakers = desk.hw.sim.objectForDevice("spk");
    const AudioObjectID phones = desk.hw.sim.objectForDevice("phones");
    desk.engine.apply(kPlayer, desk.player, 0.5f, QStringLiteral("phones"));
    EXPECT_EQ(desk.carried()[0].device, phones);

    desk.hw.sim.removeDevice("phones");
    desk.engine.devicesChanged();
    EXPECT_EQ(desk.carried()[0].device, speakers) << "an unplugged route plays on the default";
    desk.hw.sim.addDevice(outputDevice("phones", QStringLiteral("Headphones"), kAudioDeviceTransportTypeBluetooth));
    desk.engine.devicesChanged();
    const AudioObjectID replugged = desk.hw.sim.objectForDevice("phones");
    EXPECT_EQ(desk.carried()[0].device, replugged);

    // A process that leaves the application is given back at once; the rest when the application goes.
    desk.engine.apply(kPlayer, { desk.player[0] }, 0.5f, QStringLiteral("phones"));
    EXPECT_EQ(desk.carried()[1], Carried {});
    desk.engine.remove(kPlayer);
    EXPECT_EQ(desk.carried(), std::vector<Carried>(2, Carried {}));

    desk.engine.apply(kPlayer, desk.player, 0.3f, std::nullopt);
    desk.engine.stopAll();
    EXPECT_EQ(desk.carried(), std::vector<Carried>(2, Carried {}));
    EXPECT_TRUE(desk.engine.serverLevels().empty());
}
