// The client's side of the control connection: opening it, writing lines to
// it, and the detached reader thread that prints what the server sends.
#pragma once

#include <string>
#include <string_view>
#include <sys/socket.h>

#include "client/line_io.hpp"

namespace halvex::client {

struct ServerAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

// Parses a whole text as an IPv4 or IPv6 address with the port given.
bool parse_address(std::string_view text, ServerAddress& out);
void set_port(ServerAddress& address, std::uint16_t port);
std::string address_text(const ServerAddress& address);

// A connected, close-on-exec TCP socket with its time-outs cleared, or -1
// with `error` set.
int open_connection(const ServerAddress& address, IoError& error);

// Sends every byte of `line` without raising SIGPIPE.
IoError send_line(int socket, std::string_view line);

// Starts the detached reader thread that owns `socket` from then on.
// Returns 0, or the pthread error number (the socket is then closed).
int start_reader(int socket);

}  // namespace halvex::client
