// Native-messaging frames arrive from the browser on the host's standard input and from any local process that
// reaches Sonaric's socket. However the bytes are cut into reads, the reader finds the same messages, never one
// longer than the limit, and a message it framed itself comes back unchanged.

#include "fuzz/fuzz_support.h"
#include "platform/scripting/linux/native_messaging.h"

#include <string>
#include <vector>

using namespace sonaric;

namespace
{

struct Read {
    std::vector<std::string> messages;
    bool failed = false;
    int dropped = 0;

    bool operator==(const Read&) const = default;
};

Read readAll(std::string_view stream, std::size_t chunk)
{
    NativeMessaging::FrameReader reader;
    Read read;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        reader.append(stream.substr(at, chunk));
        while (auto message = reader.next()) {
            fuzz::expect(message->size() <= NativeMessaging::maximumMessageSize, "no message beyond the limit");
            read.messages.push_back(std::move(*message));
        }
    }
    read.failed = reader.failed();
    read.dropped = reader.dropped();
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses how the rest is cut into reads.
    const std::size_t chunk = std::size_t(data[0] % 16) + 1;
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Read whole = readAll(stream, stream.size() + 1);
    fuzz::expect(readAll(stream, chunk) == whole, "cutting the stream differently finds the same messages");

    if (stream.size() > NativeMessaging::maximumMessageSize)
        return 0;
    const std::string framed = NativeMessaging::frame(stream);
    fuzz::expect(framed.size() == stream.size() + 4, "a message within the limit is framed");
    NativeMessaging::FrameReader reader;
    reader.append(framed);
    const auto back = reader.next();
    fuzz::expect(back && *back == stream && !reader.next() && !reader.failed(), "a framed message reads back");
    return 0;
}
