// Apple-event replies and AppleScript results come from other applications: any value of any shape. The
// input describes a series of replies; the connectors decode them (the tab URLs and active tabs of a Chromium
// browser, the page script's answers, a script's result or error dictionary) into text, tabs or a
// NativeVolumeError, and the descriptor's own readers take any tree.

#include "fuzz/fuzz_support.h"
#include "native/app_volume.h"
#include "native/chromium_tabs.h"
#include "native/native_apple_script.h"
#include "native/native_volume_error.h"
#include "platform/scripting/scripting.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QVariantList>

using namespace sonaric;

namespace
{

FourCharCode anyCode(FuzzedDataProvider& in)
{
    static constexpr FourCharCode known[] = { typeNull, typeBoolean, typeSInt32, typeUnicodeText, typeType,
        typeEnumerated, typeAbsoluteOrdinal, typeAEList, typeAERecord, typeObjectSpecifier, typeAppleEvent,
        typeKernelProcessID, typeMissingValue, keyDirectObject, keyErrorNumber, keyErrorString };
    return in.ConsumeBool() ? in.PickValueInArray(known) : in.ConsumeIntegral<FourCharCode>();
}

QByteArray anyBytes(FuzzedDataProvider& in, std::size_t most)
{
    const std::string text = in.ConsumeRandomLengthString(most);
    return QByteArray(text.data(), qsizetype(text.size()));
}

AppleEventDescriptor descriptor(FuzzedDataProvider& in, int depth)
{
    switch (in.ConsumeIntegralInRange(0, depth < 4 ? 9 : 6)) {
    case 0:
        return AppleEventDescriptor::nullDescriptor();
    case 1:
        return AppleEventDescriptor::boolean(in.ConsumeBool());
    case 2:
        return AppleEventDescriptor::int32(in.ConsumeIntegral<std::int32_t>());
    case 3:
        return AppleEventDescriptor::string(QString::fromUtf8(anyBytes(in, 256)));
    case 4:
        return in.ConsumeBool() ? AppleEventDescriptor::typeCode(anyCode(in))
                                : AppleEventDescriptor::enumCode(anyCode(in));
    case 5:
        return in.ConsumeBool() ? AppleEventDescriptor::missingValue()
                                : AppleEventDescriptor::processIdentifier(in.ConsumeIntegral<pid_t>());
    case 6: // raw data of any type: a Boolean without bytes, an integer of three, text that is not UTF-8
        return AppleEventDescriptor::withData(anyCode(in), anyBytes(in, 16));
    case 7: {
        AppleEventDescriptor list = AppleEventDescriptor::list();
        for (int n = in.ConsumeIntegralInRange(0, 6); n > 0; --n)
            list.insertDescriptor(descriptor(in, depth + 1), in.ConsumeIntegralInRange(-1, 7));
        return list;
    }
    case 8: {
        AppleEventDescriptor record = AppleEventDescriptor::record();
        for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n)
            record.setParamDescriptor(descriptor(in, depth + 1), anyCode(in));
        return in.ConsumeBool() ? record : record.coerceToDescriptorType(anyCode(in)).value_or(record);
    }
    default: {
        AppleEventDescriptor event = AppleEventDescriptor::appleEvent(anyCode(in), anyCode(in),
            descriptor(in, depth + 1), in.ConsumeIntegral<std::int16_t>(), in.ConsumeIntegral<std::int32_t>());
        for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n)
            event.setParamDescriptor(descriptor(in, depth + 1), anyCode(in));
        return event;
    }
    }
}

QVariant anyVariant(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0:
        return QVariant();
    case 1:
        return QString::fromUtf8(anyBytes(in, 128));
    case 2:
        return in.ConsumeIntegral<int>();
    case 3:
        return in.ConsumeFloatingPoint<double>();
    case 4:
        return in.ConsumeIntegral<qulonglong>();
    case 5:
        return in.ConsumeBool();
    default:
        return QVariantList { QString::fromUtf8(anyBytes(in, 16)), in.ConsumeIntegral<int>() };
    }
}

/// Answers every script and event with the next value the input describes; once it runs out, with a timeout.
class ReplayScripting final : public Scripting
{
public:
    explicit ReplayScripting(FuzzedDataProvider& in)
        : m_in(in)
    {
    }

    AppleScriptExecution executeAppleScript(const QString&, const QString&) override
    {
        AppleScriptExecution execution;
        execution.created = m_in.remaining_bytes() == 0 || m_in.ConsumeIntegralInRange(0, 15) != 0;
        if (m_in.ConsumeBool())
            execution.result = descriptor(m_in, 0);
        if (m_in.ConsumeBool()) {
            QVariantMap info;
            if (m_in.ConsumeBool())
                info.insert(NSAppleScriptErrorMessage, anyVariant(m_in));
            if (m_in.ConsumeBool())
                info.insert(NSAppleScriptErrorNumber, anyVariant(m_in));
            if (m_in.ConsumeBool())
                info.insert(QString::fromUtf8(anyBytes(m_in, 16)), anyVariant(m_in));
            execution.errorInfo = info;
        }
        return execution;
    }

    AppleEventSendResult sendAppleEvent(const AppleEventDescriptor&, double) override
    {
        AppleEventSendResult result;
        if (m_in.remaining_bytes() == 0) {
            result.error = AppleEventSendError { errAETimeout, QStringLiteral("timed out") };
            return result;
        }
        switch (m_in.ConsumeIntegralInRange(0, 7)) {
        case 0:
            result.error = AppleEventSendError { m_in.ConsumeIntegral<int>(), QString::fromUtf8(anyBytes(m_in, 64)) };
            break;
        case 1:
            break; // neither a reply nor an error
        case 2:
            result.reply = descriptor(m_in, 0); // a reply that is not an event at all
            break;
        default: {
            AppleEventDescriptor reply = AppleEventDescriptor::appleEvent(
                fourCharCode("aevt"), fourCharCode("ansr"), AppleEventDescriptor(), 0, 0);
            for (int n = m_in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
                static constexpr AEKeyword keys[] = { keyDirectObject, keyErrorNumber, keyErrorString };
                reply.setParamDescriptor(descriptor(m_in, 0), m_in.PickValueInArray(keys));
            }
            result.reply = reply;
        }
        }
        return result;
    }

private:
    FuzzedDataProvider& m_in;
};

Scene browsers()
{
    Scene scene;
    for (pid_t pid : { 501, 502 })
        scene.applications.push_back({ pid, NativeVolumeSource(NativeVolumeSource::chrome).bundleID(),
            QStringLiteral("Google Chrome"), ActivationPolicy::regular });
    return scene;
}

void readEverything(const AppleEventDescriptor& d)
{
    d.booleanValue();
    d.int32Value();
    d.stringValue();
    d.processIdentifierValue();
    d.typeCodeValue();
    d.data();
    d.debugDescription();
    d.target();
    fuzz::expect(d == AppleEventDescriptor(d), "a copy equals its original");
    for (int i = 0; i <= d.numberOfItems() + 1; ++i) {
        const auto item = d.descriptorAtIndex(i);
        fuzz::expect(item.has_value() == (i >= 1 && i <= d.numberOfItems()), "items exist exactly at 1 … count");
        if (item)
            readEverything(*item);
    }
    for (const auto& [key, value] : d.parameters()) {
        fuzz::expect(d.paramDescriptorForKeyword(key).has_value(), "every parameter is found by its keyword");
        readEverything(value);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    readEverything(descriptor(in, 0));

    static const SimulatedWorkspace workspace(browsers());
    ReplayScripting scripting(in);
    const QStringList mediaURLs { QStringLiteral("https://example.com/watch") };
    try {
        const auto replies = ChromiumTabs::run(
            scripting, workspace, QStringLiteral("(() => '{}')()"), NativeVolumeSource::chrome, mediaURLs);
        fuzz::expect(replies.has_value(), "the browser runs, so there is an answer");
        for (const QString& reply : *replies)
            fuzz::expect(reply.startsWith(u'{'), "only JSON objects are kept");
    } catch (const NativeVolumeError& error) {
        fuzz::expect(!error.message.trimmed().isEmpty(), "a browser's error says what went wrong");
    }
    try {
        const QString text
            = NativeAppleScript::execute(scripting, QStringLiteral("return 1"), NativeVolumeSource::spotify);
        AppVolume::parse(text);
    } catch (const NativeVolumeError& error) {
        fuzz::expect(!error.message.trimmed().isEmpty(), "a script's error says what went wrong");
    }
    return 0;
}
