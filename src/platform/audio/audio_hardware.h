#pragma once

// The audio hardware service: the hardware abstraction layer (HAL) seen through Core Audio's vocabulary.
// Everything above the platform layer talks to audio devices and processes only through this interface;
// the simulated system and the PulseAudio backend both implement it.

#include "platform/four_char_code.h"

#include <QString>
#include <QVariantMap>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace sonaric
{

class DispatchQueue;

using OSStatus = std::int32_t;
using AudioObjectID = std::uint32_t;
using AudioObjectPropertySelector = std::uint32_t;
using AudioObjectPropertyScope = std::uint32_t;
using AudioObjectPropertyElement = std::uint32_t;
using AudioClassID = std::uint32_t;

struct AudioObjectPropertyAddress {
    AudioObjectPropertySelector mSelector = 0;
    AudioObjectPropertyScope mScope = 0;
    AudioObjectPropertyElement mElement = 0;
    bool operator==(const AudioObjectPropertyAddress&) const = default;
};

// Status codes.
inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus kAudioHardwareNoError = 0;
inline constexpr OSStatus kAudioHardwareNotRunningError = OSStatus(fourCharCode("stop"));
inline constexpr OSStatus kAudioHardwareUnspecifiedError = OSStatus(fourCharCode("what"));
inline constexpr OSStatus kAudioHardwareUnknownPropertyError = OSStatus(fourCharCode("who?"));
inline constexpr OSStatus kAudioHardwareBadPropertySizeError = OSStatus(fourCharCode("!siz"));
inline constexpr OSStatus kAudioHardwareIllegalOperationError = OSStatus(fourCharCode("nope"));
inline constexpr OSStatus kAudioHardwareBadObjectError = OSStatus(fourCharCode("!obj"));
inline constexpr OSStatus kAudioHardwareBadDeviceError = OSStatus(fourCharCode("!dev"));
inline constexpr OSStatus kAudioHardwareBadStreamError = OSStatus(fourCharCode("!str"));
inline constexpr OSStatus kAudioHardwareUnsupportedOperationError = OSStatus(fourCharCode("unop"));
inline constexpr OSStatus kAudioDevicePermissionsError = OSStatus(fourCharCode("!hog"));
inline constexpr OSStatus kAudio_ParamError = -50;

// Objects, scopes and elements.
inline constexpr AudioObjectID kAudioObjectUnknown = 0;
inline constexpr AudioObjectID kAudioObjectSystemObject = 1;
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeGlobal = fourCharCode("glob");
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeInput = fourCharCode("inpt");
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeOutput = fourCharCode("outp");
inline constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMain = 0;

// Classes (kAudioObjectPropertyClass).
inline constexpr AudioClassID kAudioSystemObjectClassID = fourCharCode("asys");
inline constexpr AudioClassID kAudioDeviceClassID = fourCharCode("adev");
inline constexpr AudioClassID kAudioAggregateDeviceClassID = fourCharCode("aagg");
inline constexpr AudioClassID kAudioProcessClassID = fourCharCode("clnt");
inline constexpr AudioClassID kAudioTapClassID = fourCharCode("tcls");

// Property selectors.
inline constexpr AudioObjectPropertySelector kAudioObjectPropertyClass = fourCharCode("clas");
inline constexpr AudioObjectPropertySelector kAudioObjectPropertyName = fourCharCode("lnam");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyDevices = fourCharCode("dev#");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyDefaultOutputDevice = fourCharCode("dOut");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyProcessObjectList = fourCharCode("prs#");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyTapList = fourCharCode("tps#");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceUID = fourCharCode("uid ");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyTransportType = fourCharCode("tran");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceCanBeDefaultDevice = fourCharCode("dflt");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceIsAlive = fourCharCode("livn");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyNominalSampleRate = fourCharCode("nsrt");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyStreamConfiguration = fourCharCode("slay");
inline constexpr AudioObjectPropertySelector kAudioProcessPropertyPID = fourCharCode("ppid");
inline constexpr AudioObjectPropertySelector kAudioProcessPropertyBundleID = fourCharCode("pbid");
inline constexpr AudioObjectPropertySelector kAudioProcessPropertyIsRunningOutput = fourCharCode("piro");
inline constexpr AudioObjectPropertySelector kAudioTapPropertyUID = fourCharCode("tuid");

// Settable properties of a process object, on a platform whose sound server has a volume, a mute and an output
// for every stream. They act on all of the process's playing streams, new ones included, and are undone by the
// platform when the process is released (all three back at their neutral values), when this program ends, or
// after it crashed; the server keeps no memory of them. A platform without them answers
// kAudioHardwareUnknownPropertyError.
/// Float32, 0…1: a factor on the volume the streams have of their own (1: their own volume).
inline constexpr AudioObjectPropertySelector kAudioProcessPropertyVolumeScalar = fourCharCode("pvsc");
/// UInt32, 0 or 1: silences the streams (0: their own mute).
inline constexpr AudioObjectPropertySelector kAudioProcessPropertyMute = fourCharCode("pmut");
/// AudioObjectID of an output device the streams play on (kAudioObjectUnknown: the device they chose).
inline constexpr AudioObjectPropertySelector kAudioProcessPropertyOutputDevice = fourCharCode("pdev");

// Transport types (kAudioDevicePropertyTransportType).
inline constexpr std::uint32_t kAudioDeviceTransportTypeUnknown = 0;
inline constexpr std::uint32_t kAudioDeviceTransportTypeBuiltIn = fourCharCode("bltn");
inline constexpr std::uint32_t kAudioDeviceTransportTypeAggregate = fourCharCode("grup");
inline constexpr std::uint32_t kAudioDeviceTransportTypeVirtual = fourCharCode("virt");
inline constexpr std::uint32_t kAudioDeviceTransportTypePCI = fourCharCode("pci ");
inline constexpr std::uint32_t kAudioDeviceTransportTypeUSB = fourCharCode("usb ");
inline constexpr std::uint32_t kAudioDeviceTransportTypeFireWire = fourCharCode("1394");
inline constexpr std::uint32_t kAudioDeviceTransportTypeBluetooth = fourCharCode("blue");
inline constexpr std::uint32_t kAudioDeviceTransportTypeBluetoothLE = fourCharCode("blea");
inline constexpr std::uint32_t kAudioDeviceTransportTypeHDMI = fourCharCode("hdmi");
inline constexpr std::uint32_t kAudioDeviceTransportTypeDisplayPort = fourCharCode("dprt");
inline constexpr std::uint32_t kAudioDeviceTransportTypeAirPlay = fourCharCode("airp");
inline constexpr std::uint32_t kAudioDeviceTransportTypeAVB = fourCharCode("eavb");
inline constexpr std::uint32_t kAudioDeviceTransportTypeThunderbolt = fourCharCode("thun");

// Keys of an aggregate device description.
inline constexpr auto kAudioAggregateDeviceNameKey = "name";
inline constexpr auto kAudioAggregateDeviceUIDKey = "uid";
inline constexpr auto kAudioAggregateDeviceMainSubDeviceKey = "master";
inline constexpr auto kAudioAggregateDeviceIsPrivateKey = "private";
inline constexpr auto kAudioAggregateDeviceIsStackedKey = "stacked";
inline constexpr auto kAudioAggregateDeviceTapAutoStartKey = "tapautostart";
inline constexpr auto kAudioAggregateDeviceSubDeviceListKey = "subdevices";
inline constexpr auto kAudioAggregateDeviceTapListKey = "taps";
inline constexpr auto kAudioSubDeviceUIDKey = "uid";
inline constexpr auto kAudioSubTapUIDKey = "uid";
inline constexpr auto kAudioSubTapDriftCompensationKey = "drift";

/// One buffer of interleaved 32-bit float samples.
struct AudioBuffer {
    std::uint32_t mNumberChannels = 0;
    std::uint32_t mDataByteSize = 0;
    void* mData = nullptr;
};

/// A buffer list with Core Audio's layout: the struct is allocated with room for mNumberBuffers buffers.
struct AudioBufferList {
    std::uint32_t mNumberBuffers = 0;
    AudioBuffer mBuffers[1];
};

/// Bytes needed for an AudioBufferList holding `buffers` buffers.
constexpr std::size_t audioBufferListSize(std::uint32_t buffers)
{
    return offsetof(AudioBufferList, mBuffers) + sizeof(AudioBuffer) * (buffers == 0 ? 1 : buffers);
}

struct AudioTimeStamp {
    double mSampleTime = 0;
    std::uint64_t mHostTime = 0;
};

/// The block an IO proc runs once per IO cycle on the device's real-time thread.
using AudioDeviceIOBlock = std::function<void(const AudioTimeStamp* now, const AudioBufferList* inputData,
    const AudioTimeStamp* inputTime, AudioBufferList* outputData, const AudioTimeStamp* outputTime)>;

/// Opaque handle of an IO proc created on a device; null means none.
struct OpaqueAudioDeviceIOProcID;
using AudioDeviceIOProcID = OpaqueAudioDeviceIOProcID*;

/// Called with the addresses whose values changed.
using AudioObjectPropertyListenerBlock
    = std::function<void(std::uint32_t numberAddresses, const AudioObjectPropertyAddress* addresses)>;

enum class CATapMuteBehavior : std::int32_t {
    CATapUnmuted = 0, ///< the processes keep playing while tapped
    CATapMuted = 1, ///< the processes are silent while the tap exists
    CATapMutedWhenTapped = 2, ///< the processes are silent only while the tap is being read
};

/// What a process tap captures and how.
struct CATapDescription {
    std::vector<AudioObjectID> processes;
    QString uuid; ///< the tap's UID; an aggregate device names the tap by it
    QString name;
    bool isPrivate = false;
    bool isExclusive = false; ///< true: tap every process except `processes`
    bool isMono = false;
    bool isMixdown = true;
    CATapMuteBehavior muteBehavior = CATapMuteBehavior::CATapUnmuted;

    /// One stereo stream mixing all the listed processes.
    static CATapDescription stereoMixdownOfProcesses(std::vector<AudioObjectID> processes);
};

/// An aggregate device description: a dictionary under the kAudioAggregateDevice…Key keys, sub-device and
/// tap lists being lists of dictionaries.
using CFDictionary = QVariantMap;

/// The audio hardware service.
///
/// Property data follows the HAL's binary layout: 4-byte integers, 8-byte doubles, arrays of object IDs,
/// AudioBufferList for stream configurations. String properties (names, UIDs, bundle identifiers) are read
/// with getPropertyString, which stands for the HAL's CFString-typed reads.
///
/// Implementations are thread-safe: reads come from the main thread and the tap engine's queue at once.
class AudioHardware
{
public:
    virtual ~AudioHardware() = default;

    virtual OSStatus getPropertyDataSize(
        AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* outDataSize)
        = 0;
    /// On entry *ioDataSize is the room in `outData`; on success it is the number of bytes written.
    virtual OSStatus getPropertyData(
        AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* ioDataSize, void* outData)
        = 0;
    /// A string property. A successful read may still yield no string (a null QString).
    virtual OSStatus getPropertyString(
        AudioObjectID object, const AudioObjectPropertyAddress& address, QString* outValue)
        = 0;

    /// Whether the property can be set; a property the object does not have is an error.
    virtual OSStatus isPropertySettable(
        AudioObjectID object, const AudioObjectPropertyAddress& address, bool* outIsSettable)
        = 0;
    /// Sets a property from `dataSize` bytes in the property's layout. Returns once the server has done it.
    virtual OSStatus setPropertyData(
        AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t dataSize, const void* data)
        = 0;

    /// Registers `block` for changes of `address` on `object`; it runs on `queue`. Listeners live as long as
    /// the hardware object.
    virtual OSStatus addPropertyListenerBlock(AudioObjectID object, const AudioObjectPropertyAddress& address,
        DispatchQueue& queue, AudioObjectPropertyListenerBlock block)
        = 0;

    virtual OSStatus createProcessTap(const CATapDescription& description, AudioObjectID* outTapID) = 0;
    virtual OSStatus destroyProcessTap(AudioObjectID tapID) = 0;
    virtual OSStatus createAggregateDevice(const CFDictionary& description, AudioObjectID* outDeviceID) = 0;
    virtual OSStatus destroyAggregateDevice(AudioObjectID deviceID) = 0;

    /// Creates an IO proc running `block` on `device`. A null `queue` means the device's real-time IO thread.
    virtual OSStatus createIOProcIDWithBlock(
        AudioDeviceIOProcID* outProcID, AudioObjectID device, DispatchQueue* queue, AudioDeviceIOBlock block)
        = 0;
    virtual OSStatus destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID procID) = 0;
    virtual OSStatus deviceStart(AudioObjectID device, AudioDeviceIOProcID procID) = 0;
    virtual OSStatus deviceStop(AudioObjectID device, AudioDeviceIOProcID procID) = 0;
};

/// The HAL's address for a property in the global scope and main element, the form nearly every read uses.
constexpr AudioObjectPropertyAddress globalAddress(AudioObjectPropertySelector selector)
{
    return { selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain };
}

} // namespace sonaric
