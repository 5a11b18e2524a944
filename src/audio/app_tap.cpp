#include "audio/app_tap.h"

#include "audio/ca.h"
#include "audio/tap_io.h"
#include "platform/app_identity.h"

#include <QUuid>

#include <cmath>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcTapEngine, "TapEngine")

namespace sonaric
{

namespace
{
QString newUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}
} // namespace

AppTap::AppTap(AudioHardware& hw, QString appID, std::vector<AudioObjectID> processObjects, float gain)
    : m_hw(hw)
    , m_appID(std::move(appID))
    , m_processObjects(std::move(processObjects))
    , m_state(std::make_unique<RTState>(gain))
{
}

AppTap::~AppTap()
{
    // The state record outlives the teardown: no IO cycle can run on freed state.
    stop();
}

void AppTap::start(AudioObjectID outputDevice)
{
    stop();

    const auto uid = CA::string(m_hw, outputDevice, kAudioDevicePropertyDeviceUID);
    if (!uid)
        throw CAError { QStringLiteral("Read output device UID"), -1 };

    CATapDescription tap = CATapDescription::stereoMixdownOfProcesses(m_processObjects);
    tap.uuid = newUUID();
    tap.name = QStringLiteral("Velorith ") + m_appID;
    tap.isPrivate = true;
    tap.muteBehavior = CATapMuteBehavior::CATapMutedWhenTapped;

    AudioObjectID tapID = 0;
    OSStatus status = m_hw.createProcessTap(tap, &tapID);
    if (status != noErr || tapID == 0)
        throw CAError { QStringLiteral("AudioHardwareCreateProcessTap"), status };
    m_tapID = tapID;

    const CFDictionary aggregate {
        { kAudioAggregateDeviceNameKey, QStringLiteral("Velorith-") + m_appID },
        { kAudioAggregateDeviceUIDKey,
            QStringLiteral("%1.%2").arg(QLatin1String(kSonaricBundleIdentifier), newUUID()) },
        { kAudioAggregateDeviceMainSubDeviceKey, *uid },
        { kAudioAggregateDeviceIsPrivateKey, true },
        { kAudioAggregateDeviceIsStackedKey, false },
        { kAudioAggregateDeviceTapAutoStartKey, true },
        { kAudioAggregateDeviceSubDeviceListKey, QVariantList { CFDictionary { { kAudioSubDeviceUIDKey, *uid } } } },
        { kAudioAggregateDeviceTapListKey,
            QVariantList {
                CFDictionary { { kAudioSubTapUIDKey, tap.uuid }, { kAudioSubTapDriftCompensationKey, true } } } },
    };
    AudioObjectID aggregateID = 0;
    status = m_hw.createAggregateDevice(aggregate, &aggregateID);
    if (status != noErr || aggregateID == 0) {
        stop();
        throw CAError { QStringLiteral("AudioHardwareCreateAggregateDevice"), status };
    }
    m_aggregateID = aggregateID;

    // A new aggregate device takes a moment to come alive; after about half a second the build goes on anyway.
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (CA::uint32(m_hw, m_aggregateID, kAudioDevicePropertyDeviceIsAlive).value_or(0) != 0)
            break;
        ::usleep(10000);
    }

    // The tap's stream comes after the output device's own input streams. Without knowing how many there are,
    // the block would play one of the device's own inputs in place of the application: give up instead.
    const int inputs = bufferCount(m_hw, m_aggregateID, kAudioObjectPropertyScopeInput);
    if (inputs == 0) {
        stop();
        throw CAError { QStringLiteral("Read aggregate device input streams"), -1 };
    }
    m_state->inputOffset.store(inputs - 1, std::memory_order_relaxed);

    double rate = 48000.0;
    std::uint32_t size = sizeof(rate);
    if (m_hw.getPropertyData(m_aggregateID, globalAddress(kAudioDevicePropertyNominalSampleRate), &size, &rate)
        != noErr)
        rate = 48000.0;
    m_state->releaseCoeff.store(releaseCoefficient(rate), std::memory_order_relaxed);

    AudioDeviceIOProcID procID = nullptr;
    status = m_hw.createIOProcIDWithBlock(&procID, m_aggregateID, nullptr, makeIOBlock(m_state.get()));
    if (status != noErr || !procID) {
        stop();
        throw CAError { QStringLiteral("AudioDeviceCreateIOProcIDWithBlock"), status };
    }
    m_ioProcID = procID;

    status = m_hw.deviceStart(m_aggregateID, m_ioProcID);
    if (status != noErr) {
        stop();
        throw CAError { QStringLiteral("AudioDeviceStart"), status };
    }

    m_device = outputDevice;
    qCInfo(lcTapEngine, "Tap running for %s (%ld process objects)", qUtf8Printable(m_appID),
        long(m_processObjects.size()));
}

void AppTap::stop()
{
    m_device = 0;
    if (m_aggregateID != 0) {
        if (m_ioProcID) {
            m_hw.deviceStop(m_aggregateID, m_ioProcID);
            m_hw.destroyIOProcID(m_aggregateID, m_ioProcID);
        }
        m_hw.destroyAggregateDevice(m_aggregateID);
    }
    m_ioProcID = nullptr;
    m_aggregateID = 0;
    if (m_tapID != 0)
        m_hw.destroyProcessTap(m_tapID);
    m_tapID = 0;
}

int AppTap::bufferCount(AudioHardware& hw, AudioObjectID device, AudioObjectPropertyScope scope)
{
    const AudioObjectPropertyAddress address { kAudioDevicePropertyStreamConfiguration, scope,
        kAudioObjectPropertyElementMain };
    std::uint32_t size = 0;
    if (hw.getPropertyDataSize(device, address, &size) != noErr || size == 0)
        return 0;
    std::vector<std::byte> storage(std::max<std::size_t>(size, sizeof(AudioBufferList)));
    if (hw.getPropertyData(device, address, &size, storage.data()) != noErr)
        return 0;
    return int(reinterpret_cast<const AudioBufferList*>(storage.data())->mNumberBuffers);
}

AudioDeviceIOBlock AppTap::makeIOBlock(RTState* state)
{
    return [state](const AudioTimeStamp*, const AudioBufferList* input, const AudioTimeStamp*, AudioBufferList* output,
               const AudioTimeStamp*) { renderTapIO(*state, input, output); };
}

float AppTap::releaseCoefficient(double sampleRate)
{
    // A rate that is not a number counts as the lowest rate, like any rate below 8 kHz.
    const double rate = sampleRate >= 8000.0 ? sampleRate : 8000.0;
    return float(1.0 - std::exp(-1.0 / (0.15 * rate)));
}

} // namespace sonaric
