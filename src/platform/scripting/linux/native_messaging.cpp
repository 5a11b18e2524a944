#include "platform/scripting/linux/native_messaging.h"

#include <cstring>

namespace sonaric::NativeMessaging
{

std::string frame(std::string_view message)
{
    if (message.size() > maximumMessageSize)
        return {};
    const auto length = std::uint32_t(message.size());
    std::string framed(sizeof length, '\0');
    std::memcpy(framed.data(), &length, sizeof length);
    framed.append(message);
    return framed;
}

void FrameReader::append(std::string_view bytes)
{
    if (m_failed)
        return;
    if (m_skipping > 0) {
        const std::size_t skipped = std::size_t(std::min<std::uint64_t>(m_skipping, bytes.size()));
        m_skipping -= skipped;
        bytes.remove_prefix(skipped);
    }
    m_buffer.append(bytes);
}

std::optional<std::string> FrameReader::next()
{
    while (!m_failed && m_skipping == 0 && m_buffer.size() >= sizeof(std::uint32_t)) {
        std::uint32_t length = 0;
        std::memcpy(&length, m_buffer.data(), sizeof length);
        if (length > maximumAnnouncedSize) {
            m_failed = true;
            m_buffer.clear();
            return std::nullopt;
        }
        if (length > maximumMessageSize) {
            ++m_dropped;
            const std::uint64_t available = m_buffer.size() - sizeof length;
            if (available >= length) {
                m_buffer.erase(0, sizeof length + length);
                continue;
            }
            m_skipping = length - available;
            m_buffer.clear();
            return std::nullopt;
        }
        if (m_buffer.size() - sizeof length < length)
            return std::nullopt;
        std::string message = m_buffer.substr(sizeof length, length);
        m_buffer.erase(0, sizeof length + length);
        return message;
    }
    return std::nullopt;
}

} // namespace sonaric::NativeMessaging
