#pragma once

// The framing of browser native messaging, used on both legs of the road between Sonaric and its browser
// extension (browser <-> host on standard input and output, host <-> Sonaric on the local socket): each message
// is a 32-bit length in the machine's byte order followed by that many bytes of UTF-8 JSON. Plain C++, so the
// small host program needs nothing else.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonaric::NativeMessaging
{

/// The largest message a browser accepts from a host; Sonaric holds both directions of every leg to it.
inline constexpr std::uint32_t maximumMessageSize = 1024 * 1024;
/// The largest length a browser may announce (its own limit towards a host); a larger one means the stream is
/// not native messaging at all.
inline constexpr std::uint32_t maximumAnnouncedSize = 64 * 1024 * 1024;

/// The name of Sonaric's socket in the user's runtime folder. (The instance lock's socket beside it is another.)
inline constexpr char socketName[] = "sonaric-browsers.socket";
/// The native-messaging host's name, as the extension asks for it and its manifest declares it.
inline constexpr char hostName[] = "org.sonaric.browser_bridge";

/// One message with its length in front; empty when the message is longer than `maximumMessageSize`.
std::string frame(std::string_view message);

/// Cuts a byte stream into messages. Messages longer than `maximumMessageSize` are skipped whole (counted in
/// `dropped`), so one oversized message costs only itself; a length above `maximumAnnouncedSize` fails the
/// stream for good.
class FrameReader
{
public:
    void append(std::string_view bytes);
    /// The next complete message, if one has arrived.
    std::optional<std::string> next();
    bool failed() const { return m_failed; }
    int dropped() const { return m_dropped; }

private:
    std::string m_buffer;
    std::uint64_t m_skipping = 0; ///< bytes of an oversized message still to throw away
    bool m_failed = false;
    int m_dropped = 0;
};

} // namespace sonaric::NativeMessaging
