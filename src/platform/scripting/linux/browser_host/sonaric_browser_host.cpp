// sonaric-browser-host: the native-messaging host that a Chromium-family browser starts for Sonaric's extension.
// It relays messages, unchanged, between the browser (standard input and output) and the running Sonaric (the
// socket sonaric-browsers.socket in $XDG_RUNTIME_DIR), after telling Sonaric which extension asked for it. When
// no Sonaric listens it tells the extension {"type":"not-running"} and ends; it ends as well when either side
// goes away. Messages over 1 MiB are dropped in both directions. Plain POSIX, so the browser starts it quickly.

#include "platform/scripting/linux/native_messaging.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{

namespace nm = sonaric::NativeMessaging;

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(std::size_t(written));
    }
    return true;
}

std::string socketPath()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder
        = runtime && *runtime ? std::string(runtime) : "/run/user/" + std::to_string(static_cast<long>(::getuid()));
    return folder + "/" + nm::socketName;
}

int connectToSonaric()
{
    const std::string path = socketPath();
    sockaddr_un address {};
    if (path.size() >= sizeof address.sun_path)
        return -1;
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

/// The caller's origin as the browser passes it ("chrome-extension://<id>/"); anything with other characters is
/// not written into JSON at all.
std::string origin(int argc, char* argv[])
{
    if (argc < 2)
        return {};
    const std::string_view text(argv[1]);
    for (const char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ':' || c == '/' || c == '-'
            || c == '.' || c == '_';
        if (!plain)
            return {};
    }
    return std::string(text);
}

/// Moves every complete message from `reader` to `to`; false when writing failed.
bool relay(nm::FrameReader& reader, int to)
{
    while (auto message = reader.next()) {
        if (!writeAll(to, nm::frame(*message)))
            return false;
    }
    return !reader.failed();
}

} // namespace

int main(int argc, char* argv[])
{
    // A vanished reader must end the relay with an error from write, not kill it mid-message.
    std::signal(SIGPIPE, SIG_IGN);
    const int sonaric = connectToSonaric();
    if (sonaric < 0) {
        writeAll(STDOUT_FILENO, nm::frame(R"({"type":"not-running"})"));
        return 0;
    }
    if (!writeAll(sonaric, nm::frame(R"({"type":"host","origin":")" + origin(argc, argv) + R"("})")))
        return 0;

    nm::FrameReader fromBrowser;
    nm::FrameReader fromSonaric;
    pollfd fds[2] = { { STDIN_FILENO, POLLIN, 0 }, { sonaric, POLLIN, 0 } };
    char buffer[65536];
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return 0; // the browser closed the port, or Sonaric went away
            nm::FrameReader& reader = i == 0 ? fromBrowser : fromSonaric;
            reader.append(std::string_view(buffer, std::size_t(got)));
            if (!relay(reader, i == 0 ? sonaric : STDOUT_FILENO))
                return 1;
        }
    }
}
