// Pure pieces of the client's I/O: writing a whole buffer through a send
// function, and turning raw server bytes into a printable line.  Kept free of
// sockets and Python so that they can be tested with fakes.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace halvex::client {

// An I/O failure: an errno value, or `write_zero` for a send that took nothing.
struct IoError {
    static constexpr int write_zero = -1;
    int code = 0;

    explicit operator bool() const { return code != 0; }
};

// "Broken pipe (os error 32)", or "failed to write whole buffer".
std::string describe(IoError error);

// Sends every byte of `data`, retrying interrupted sends.
// `send(const char*, size_t)` returns what send(2) returns, with errno set.
template <class Send>
IoError write_all(Send&& send, std::string_view data) {
    while (!data.empty()) {
        ssize_t sent = send(data.data(), data.size());
        if (sent < 0) {
            if (errno == EINTR) continue;
            return IoError{errno};
        }
        if (sent == 0) return IoError{IoError::write_zero};
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return {};
}

// Appends `bytes` to `out` as UTF-8, replacing every maximal invalid
// subsequence with U+FFFD, the way Python's errors="replace" decodes.
void append_lossy_utf8(std::string_view bytes, std::string& out);

// `text` (valid UTF-8) without leading and trailing White_Space characters.
std::string_view trim_white_space(std::string_view text);

// "Received: <trimmed line>\n" for the raw bytes of one server line.
void format_received_line(std::string_view raw_line, std::string& out);

}  // namespace halvex::client
