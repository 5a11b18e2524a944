#pragma once

// The Apple-event vocabulary of the scripting service: four-character codes and a typed descriptor tree
// (null, Boolean, 32-bit integer, text, type and enumeration codes, raw typed data, lists, records, object
// specifiers and Apple events themselves), shaped after NSAppleEventDescriptor.

#include "platform/four_char_code.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace sonaric
{

using DescType = FourCharCode;
using AEKeyword = FourCharCode;

/// A code back as its four characters, for messages and test output.
QString fourCharCodeText(FourCharCode code);

// Descriptor types.
inline constexpr DescType typeNull = fourCharCode("null");
inline constexpr DescType typeBoolean = fourCharCode("bool");
inline constexpr DescType typeSInt32 = fourCharCode("long");
inline constexpr DescType typeUnicodeText = fourCharCode("utxt");
inline constexpr DescType typeType = fourCharCode("type");
inline constexpr DescType typeEnumerated = fourCharCode("enum");
inline constexpr DescType typeAbsoluteOrdinal = fourCharCode("abso");
inline constexpr DescType typeAEList = fourCharCode("list");
inline constexpr DescType typeAERecord = fourCharCode("reco");
inline constexpr DescType typeObjectSpecifier = fourCharCode("obj ");
inline constexpr DescType typeAppleEvent = fourCharCode("aevt");
inline constexpr DescType typeKernelProcessID = fourCharCode("kpid");
inline constexpr DescType typeMissingValue = fourCharCode("msng");

// Keywords and constants.
inline constexpr AEKeyword keyDirectObject = fourCharCode("----");
inline constexpr AEKeyword keyErrorNumber = fourCharCode("errn");
inline constexpr AEKeyword keyErrorString = fourCharCode("errs");
inline constexpr AEKeyword keyAEDesiredClass = fourCharCode("want");
inline constexpr AEKeyword keyAEContainer = fourCharCode("from");
inline constexpr AEKeyword keyAEKeyForm = fourCharCode("form");
inline constexpr AEKeyword keyAEKeyData = fourCharCode("seld");
inline constexpr FourCharCode formAbsolutePosition = fourCharCode("indx");
inline constexpr FourCharCode formPropertyID = fourCharCode("prop");
inline constexpr FourCharCode cProperty = fourCharCode("prop");
inline constexpr FourCharCode kAEAll = fourCharCode("all ");
inline constexpr FourCharCode kAECoreSuite = fourCharCode("core");
inline constexpr FourCharCode kAEGetData = fourCharCode("getd");
inline constexpr std::int16_t kAutoGenerateReturnID = -1;
inline constexpr std::int32_t kAnyTransactionID = 0;

// Error numbers the connectors meet.
inline constexpr int errAEEventNotPermitted = -1743;
inline constexpr int errAENoSuchObject = -1728;
inline constexpr int errAEEventNotHandled = -1708;
inline constexpr int errAETimeout = -1712;
inline constexpr int procNotFound = -600;
inline constexpr int errAEWriteDenied = -10006;

/// One node of an Apple-event descriptor tree. A value type with equality over its whole content.
class AppleEventDescriptor
{
public:
    /// The null descriptor ('null'), also the container of an object specifier for the application.
    AppleEventDescriptor();

    static AppleEventDescriptor nullDescriptor();
    static AppleEventDescriptor boolean(bool value);
    static AppleEventDescriptor int32(std::int32_t value);
    static AppleEventDescriptor string(const QString& text);
    static AppleEventDescriptor typeCode(FourCharCode code);
    static AppleEventDescriptor enumCode(FourCharCode code);
    /// AppleScript's "missing value".
    static AppleEventDescriptor missingValue();
    /// A descriptor of any type holding raw bytes (for example 'abso' holding 'all ' as a native 32-bit value).
    static AppleEventDescriptor withData(DescType type, const QByteArray& data);
    static AppleEventDescriptor list(std::vector<AppleEventDescriptor> items = {});
    static AppleEventDescriptor record();
    /// The address of a running process.
    static AppleEventDescriptor processIdentifier(pid_t pid);
    /// An Apple event without parameters.
    static AppleEventDescriptor appleEvent(FourCharCode eventClass, FourCharCode eventID,
        const AppleEventDescriptor& target, std::int16_t returnID, std::int32_t transactionID);

    DescType descriptorType() const { return m_type; }
    /// The raw bytes of a scalar descriptor (native byte order for numbers and codes, UTF-8 for text).
    QByteArray data() const;

    bool booleanValue() const;
    /// The value as a 32-bit integer; 0 when the descriptor is not a number.
    std::int32_t int32Value() const;
    /// The value as text: text itself, or a number as decimal text; absent for anything else.
    std::optional<QString> stringValue() const;
    /// The process identifier of a process address ('kpid'); absent for anything else.
    std::optional<pid_t> processIdentifierValue() const;
    /// The code of a type, enumeration or other four-byte descriptor; 0 otherwise.
    FourCharCode typeCodeValue() const;

    // Lists (1-based like the Apple Event Manager).
    int numberOfItems() const;
    /// The item at a 1-based index; absent when out of range or not a list.
    std::optional<AppleEventDescriptor> descriptorAtIndex(int index) const;
    void insertDescriptor(const AppleEventDescriptor& item, int index = 0); ///< 0 appends

    // Records, object specifiers and Apple events: keyword-keyed parameters in insertion order.
    std::optional<AppleEventDescriptor> paramDescriptorForKeyword(AEKeyword keyword) const;
    void setParamDescriptor(const AppleEventDescriptor& value, AEKeyword keyword);
    const std::vector<std::pair<AEKeyword, AppleEventDescriptor>>& parameters() const { return m_fields; }

    /// A record as another record type (for example an object specifier, 'obj '); absent when not a record.
    std::optional<AppleEventDescriptor> coerceToDescriptorType(DescType type) const;

    // Apple events.
    FourCharCode eventClass() const { return m_eventClass; }
    FourCharCode eventID() const { return m_eventID; }
    std::int16_t returnID() const { return m_returnID; }
    std::int32_t transactionID() const { return m_transactionID; }
    /// The target address of an Apple event.
    std::optional<AppleEventDescriptor> target() const;

    bool isList() const { return m_type == typeAEList; }
    /// True for records and every record-shaped descriptor (object specifiers, Apple events).
    bool isRecord() const { return m_isRecord; }

    /// A readable rendering of the tree for test failures, e.g. `obj {want:type(CrTb), ...}`.
    QString debugDescription() const;

    bool operator==(const AppleEventDescriptor& other) const;

private:
    DescType m_type = typeNull;
    QByteArray m_data;
    bool m_isRecord = false;
    std::vector<AppleEventDescriptor> m_items;
    std::vector<std::pair<AEKeyword, AppleEventDescriptor>> m_fields;
    FourCharCode m_eventClass = 0;
    FourCharCode m_eventID = 0;
    std::int16_t m_returnID = 0;
    std::int32_t m_transactionID = 0;
    std::vector<AppleEventDescriptor> m_target; ///< zero or one element: the event's address
};

} // namespace sonaric
