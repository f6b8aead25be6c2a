#include "client/connection.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include "binding/fatal.hpp"
#include "binding/stdout_writer.hpp"

namespace halvex::client {

bool parse_address(std::string_view text, ServerAddress& out) {
    if (text.find('\0') != std::string_view::npos) return false;
    std::string address(text);
    out = ServerAddress{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out.storage);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        out.length = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out.storage);
    if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        out.length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

void set_port(ServerAddress& address, std::uint16_t port) {
    if (address.storage.ss_family == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port = htons(port);
    } else {
        reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port = htons(port);
    }
}

std::string address_text(const ServerAddress& address) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = address.storage.ss_family == AF_INET
                          ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&address.storage)->sin_addr)
                          : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&address.storage)->sin6_addr);
    inet_ntop(address.storage.ss_family, raw, text, sizeof text);
    return text;
}

namespace {

// A connect interrupted by a signal goes on in the background: wait for it
// to finish and read its outcome.
int finish_interrupted_connect(int socket) {
    pollfd watch{socket, POLLOUT, 0};
    while (poll(&watch, 1, -1) < 0) {
        if (errno != EINTR) return errno;
    }
    int outcome = 0;
    socklen_t size = sizeof outcome;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &outcome, &size) < 0) return errno;
    return outcome;
}

void clear_timeouts(int socket) {
    timeval none{};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
}

}  // namespace

int open_connection(const ServerAddress& address, IoError& error) {
    int sock = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        error = IoError{errno};
        return -1;
    }
    int outcome = 0;
    if (::connect(sock, reinterpret_cast<const sockaddr*>(&address.storage), address.length) < 0) {
        outcome = errno == EINTR ? finish_interrupted_connect(sock) : errno;
    }
    if (outcome != 0) {
        ::close(sock);
        error = IoError{outcome};
        return -1;
    }
    clear_timeouts(sock);
    return sock;
}

IoError send_line(int socket, std::string_view line) {
    return write_all([socket](const char* data, std::size_t size) { return ::send(socket, data, size, MSG_NOSIGNAL); },
                     line);
}

namespace {

constexpr std::size_t read_buffer_size = 8192;

// Prints a line; false when standard output can no longer be written.
bool print(std::string_view line) {
    int error = binding::write_stdout_line(line);
    if (error == 0) return true;
    binding::report_to_stderr("reader stopped: cannot write standard output: " + describe(IoError{error}),
                              std::source_location::current());
    return false;
}

// Reads the connection to its end, printing each line.  False when printing failed.
bool print_server_lines(int socket) {
    char buffer[read_buffer_size];
    std::string line;
    std::string output;
    while (true) {
        ssize_t received = ::read(socket, buffer, sizeof buffer);
        if (received < 0 && errno == EINTR) continue;
        if (received < 0) return true;  // a read error ends the connection like a close
        if (received == 0) {
            if (line.empty()) return true;
            format_received_line(line, output);
            return print(output);
        }
        std::string_view chunk(buffer, static_cast<std::size_t>(received));
        for (std::size_t end; (end = chunk.find('\n')) != std::string_view::npos; chunk.remove_prefix(end + 1)) {
            // A line within one read is printed straight from the buffer.
            std::string_view raw = chunk.substr(0, end + 1);
            if (!line.empty()) raw = line.append(raw);
            format_received_line(raw, output);
            if (!print(output)) return false;
            line.clear();
        }
        line.append(chunk);
    }
}

void* reader_main(void* argument) {
    int socket = static_cast<int>(reinterpret_cast<std::intptr_t>(argument));
    try {
        if (print_server_lines(socket)) print("Connection closed.\n");
    } catch (const std::exception& error) {  // a line too long to hold in memory
        binding::report_to_stderr(std::string("reader stopped: ") + error.what(), std::source_location::current());
    }
    ::close(socket);
    return nullptr;
}

}  // namespace

int start_reader(int socket) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    // Signals stay with the interpreter's threads; the reader never sees EINTR.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t thread;
    int error = pthread_create(&thread, &attributes, reader_main,
                               reinterpret_cast<void*>(static_cast<std::intptr_t>(socket)));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attributes);
    if (error != 0) ::close(socket);
    return error;
}

}  // namespace halvex::client
