#include "platform/scripting/apple_event_descriptor.h"

#include <QStringList>

#include <cstring>

namespace sonaric
{

namespace
{

template <typename T> QByteArray nativeBytes(T value)
{
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T> T fromNativeBytes(const QByteArray& bytes)
{
    T value {};
    if (bytes.size() == sizeof value)
        std::memcpy(&value, bytes.constData(), sizeof value);
    return value;
}

} // namespace

QString fourCharCodeText(FourCharCode code)
{
    QString text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text += QChar(char((code >> shift) & 0xff));
    return text;
}

AppleEventDescriptor::AppleEventDescriptor() = default;

AppleEventDescriptor AppleEventDescriptor::nullDescriptor()
{
    return AppleEventDescriptor();
}

AppleEventDescriptor AppleEventDescriptor::boolean(bool value)
{
    return withData(typeBoolean, QByteArray(1, value ? 1 : 0));
}

AppleEventDescriptor AppleEventDescriptor::int32(std::int32_t value)
{
    return withData(typeSInt32, nativeBytes(value));
}

AppleEventDescriptor AppleEventDescriptor::string(const QString& text)
{
    return withData(typeUnicodeText, text.toUtf8());
}

AppleEventDescriptor AppleEventDescriptor::typeCode(FourCharCode code)
{
    return withData(typeType, nativeBytes(code));
}

AppleEventDescriptor AppleEventDescriptor::enumCode(FourCharCode code)
{
    return withData(typeEnumerated, nativeBytes(code));
}

AppleEventDescriptor AppleEventDescriptor::missingValue()
{
    return typeCode(typeMissingValue);
}

AppleEventDescriptor AppleEventDescriptor::withData(DescType type, const QByteArray& data)
{
    AppleEventDescriptor descriptor;
    descriptor.m_type = type;
    descriptor.m_data = data;
    return descriptor;
}

AppleEventDescriptor AppleEventDescriptor::list(std::vector<AppleEventDescriptor> items)
{
    AppleEventDescriptor descriptor;
    descriptor.m_type = typeAEList;
    descriptor.m_items = std::move(items);
    return descriptor;
}

AppleEventDescriptor AppleEventDescriptor::record()
{
    AppleEventDescriptor descriptor;
    descriptor.m_type = typeAERecord;
    descriptor.m_isRecord = true;
    return descriptor;
}

AppleEventDescriptor AppleEventDescriptor::processIdentifier(pid_t pid)
{
    return withData(typeKernelProcessID, nativeBytes(std::int32_t(pid)));
}

AppleEventDescriptor AppleEventDescriptor::appleEvent(FourCharCode eventClass, FourCharCode eventID,
    const AppleEventDescriptor& target, std::int16_t returnID, std::int32_t transactionID)
{
    AppleEventDescriptor event;
    event.m_type = typeAppleEvent;
    event.m_isRecord = true;
    event.m_eventClass = eventClass;
    event.m_eventID = eventID;
    event.m_returnID = returnID;
    event.m_transactionID = transactionID;
    event.m_target = { target };
    return event;
}

QByteArray AppleEventDescriptor::data() const
{
    return m_data;
}

bool AppleEventDescriptor::booleanValue() const
{
    if (m_type == typeBoolean)
        return !m_data.isEmpty() && m_data.at(0) != 0;
    return int32Value() != 0;
}

std::int32_t AppleEventDescriptor::int32Value() const
{
    if (m_type == typeSInt32)
        return fromNativeBytes<std::int32_t>(m_data);
    if (m_type == typeBoolean)
        return booleanValue() ? 1 : 0;
    if (m_type == typeUnicodeText) {
        bool ok = false;
        const int value = QString::fromUtf8(m_data).trimmed().toInt(&ok);
        return ok ? value : 0;
    }
    return 0;
}

std::optional<QString> AppleEventDescriptor::stringValue() const
{
    if (m_type == typeUnicodeText)
        return QString::fromUtf8(m_data);
    if (m_type == typeSInt32)
        return QString::number(int32Value());
    return std::nullopt;
}

std::optional<pid_t> AppleEventDescriptor::processIdentifierValue() const
{
    if (m_type != typeKernelProcessID || m_data.size() != sizeof(std::int32_t))
        return std::nullopt;
    return pid_t(fromNativeBytes<std::int32_t>(m_data));
}

FourCharCode AppleEventDescriptor::typeCodeValue() const
{
    return m_data.size() == 4 ? fromNativeBytes<FourCharCode>(m_data) : 0;
}

int AppleEventDescriptor::numberOfItems() const
{
    return isList() ? int(m_items.size()) : 0;
}

std::optional<AppleEventDescriptor> AppleEventDescriptor::descriptorAtIndex(int index) const
{
    if (!isList() || index < 1 || index > int(m_items.size()))
        return std::nullopt;
    return m_items[std::size_t(index - 1)];
}

void AppleEventDescriptor::insertDescriptor(const AppleEventDescriptor& item, int index)
{
    if (!isList())
        return;
    if (index <= 0 || index > int(m_items.size()))
        m_items.push_back(item);
    else
        m_items.insert(m_items.begin() + (index - 1), item);
}

std::optional<AppleEventDescriptor> AppleEventDescriptor::paramDescriptorForKeyword(AEKeyword keyword) const
{
    for (const auto& [key, value] : m_fields) {
        if (key == keyword)
            return value;
    }
    return std::nullopt;
}

void AppleEventDescriptor::setParamDescriptor(const AppleEventDescriptor& value, AEKeyword keyword)
{
    if (!m_isRecord)
        return;
    for (auto& [key, existing] : m_fields) {
        if (key == keyword) {
            existing = value;
            return;
        }
    }
    m_fields.emplace_back(keyword, value);
}

std::optional<AppleEventDescriptor> AppleEventDescriptor::coerceToDescriptorType(DescType type) const
{
    if (!m_isRecord || m_type == typeAppleEvent)
        return std::nullopt;
    AppleEventDescriptor coerced = *this;
    coerced.m_type = type;
    return coerced;
}

std::optional<AppleEventDescriptor> AppleEventDescriptor::target() const
{
    if (m_target.empty())
        return std::nullopt;
    return m_target.front();
}

QString AppleEventDescriptor::debugDescription() const
{
    const QString type = fourCharCodeText(m_type);
    if (m_type == typeNull)
        return QStringLiteral("null");
    if (isList()) {
        QStringList items;
        for (const auto& item : m_items)
            items << item.debugDescription();
        return QStringLiteral("[") + items.join(QStringLiteral(", ")) + QStringLiteral("]");
    }
    if (m_isRecord) {
        QStringList fields;
        for (const auto& [key, value] : m_fields)
            fields << fourCharCodeText(key) + QStringLiteral(":") + value.debugDescription();
        QString head = type;
        if (m_type == typeAppleEvent)
            head += QStringLiteral("(%1/%2)").arg(fourCharCodeText(m_eventClass), fourCharCodeText(m_eventID));
        return head + QStringLiteral(" {") + fields.join(QStringLiteral(", ")) + QStringLiteral("}");
    }
    if (m_type == typeUnicodeText)
        return QStringLiteral("\"") + QString::fromUtf8(m_data) + QStringLiteral("\"");
    if (m_type == typeSInt32)
        return QString::number(int32Value());
    if (m_type == typeBoolean)
        return booleanValue() ? QStringLiteral("true") : QStringLiteral("false");
    if (m_data.size() == 4)
        return type + QStringLiteral("(") + fourCharCodeText(typeCodeValue()) + QStringLiteral(")");
    return type + QStringLiteral("(") + QString::fromLatin1(m_data.toHex()) + QStringLiteral(")");
}

bool AppleEventDescriptor::operator==(const AppleEventDescriptor& other) const
{
    return m_type == other.m_type && m_data == other.m_data && m_isRecord == other.m_isRecord
        && m_items == other.m_items && m_fields == other.m_fields && m_eventClass == other.m_eventClass
        && m_eventID == other.m_eventID && m_returnID == other.m_returnID && m_transactionID == other.m_transactionID
        && m_target == other.m_target;
}

} // namespace sonaric
