#include "binding/stdout_writer.hpp"

#include <cerrno>
#include <mutex>
#include <unistd.h>

namespace halvex::binding {

int write_stdout_line(std::string_view line) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    while (!line.empty()) {
        ssize_t written = ::write(STDOUT_FILENO, line.data(), line.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno == EBADF ? 0 : errno;
        }
        if (written == 0) return EIO;  // no progress: give up rather than spin
        line.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

}  // namespace halvex::binding
