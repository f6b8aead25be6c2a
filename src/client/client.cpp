#include "client/client.hpp"

#include <charconv>
#include <fcntl.h>
#include <cstdint>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "binding/args.hpp"
#include "binding/borrow.hpp"
#include "binding/convert.hpp"
#include "binding/fatal.hpp"
#include "binding/guard.hpp"
#include "binding/ref.hpp"
#include "binding/stdout_writer.hpp"
#include "binding/types.hpp"
#include "client/connection.hpp"
#include "scripting/arguments.hpp"
#include "scripting/command_type.hpp"

namespace halvex::client {

using binding::raise;
using binding::Ref;
using scripting::Caller;

namespace {

// A transmission failure: no connection, or the write failed.
struct SendFailure {
    bool no_connection = false;
    IoError io;
};

// Room for " COMMANDTAG=", twenty digits and the line feed.
constexpr std::size_t tag_suffix_capacity = 32;

// Lines larger than this do not keep their buffer after they are sent.
constexpr std::size_t kept_line_capacity = 64 * 1024;

struct ClientState {
    ServerAddress server;
    std::uint16_t control_port = 0;
    std::uint16_t transport_channel_port = 0;
    std::string username;
    std::string password;
    std::uint64_t command_tag = 0;
    int stream = -1;
    std::string line;  // the line being sent, reused from send to send

    ~ClientState() { close_stream(); }

    void close_stream() {
        if (stream >= 0) ::close(stream);
        stream = -1;
    }

    // Sends `line` (which holds the command text) with the tag suffix.  The
    // tag advances only when the whole line was written.
    bool transmit(std::uint64_t& tag, SendFailure& failure) {
        if (stream < 0) {
            failure.no_connection = true;
            return false;
        }
        char digits[20];
        auto end = std::to_chars(digits, digits + sizeof digits, command_tag).ptr;
        line.append(" COMMANDTAG=").append(digits, end).push_back('\n');
        failure.io = send_line(stream, line);
        if (line.capacity() > kept_line_capacity) std::string().swap(line);
        if (failure.io) return false;
        tag = command_tag++;
        return true;
    }
};

struct ClientObject {
    PyObject_HEAD
    binding::BorrowFlag borrow;
    ClientState state;
};

ClientState& state_of(PyObject* self) { return reinterpret_cast<ClientObject*>(self)->state; }
binding::BorrowFlag& borrow_of(PyObject* self) { return reinterpret_cast<ClientObject*>(self)->borrow; }

PyObject* raise_send_failure(const SendFailure& failure) {
    if (failure.no_connection) {
        PyErr_SetString(PyExc_RuntimeError, "No active connection to send message");
    } else {
        std::string message = "Failed to send message: " + describe(failure.io);
        raise(PyExc_OSError, message);
    }
    return nullptr;
}

std::string repr_text(PyObject* object) {
    if (!object) return "None";
    Ref text = Ref::steal(PyObject_Repr(object));
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
    if (!utf8) {
        PyErr_Clear();
        return "?";
    }
    return utf8;
}

// Turns the pending transmission error into the fatal-error exception.
PyObject* raise_fatal_send_failure(std::string_view failure_text) {
    binding::PendingError error = binding::PendingError::fetch();
    std::string message = std::string(failure_text) + ": TransmissionError { type: " + repr_text(error.type.get()) +
                          ", value: " + repr_text(error.value.get()) +
                          ", traceback: " + repr_text(error.traceback.get()) + " }";
    return binding::raise_fatal(message);
}

PyObject* report_send_failure(const SendFailure& failure, commands::OnSendFailure on_failure) {
    raise_send_failure(failure);
    if (!on_failure.is_fatal()) return nullptr;
    return raise_fatal_send_failure(on_failure.fatal_text);
}

std::string default_password() {
    std::string password;
    for (int letter : {7, 11, 23}) password.push_back(static_cast<char>('a' + letter));
    return password;
}

// Constructor.

constexpr std::string_view constructor_parameters[] = {"server", "control_port", "transport_channel_port", "username",
                                                       "password"};

// Settings are converted like command values (so credentials cannot carry
// line breaks into the login line); None selects the fallback.
template <class T>
bool convert_or_default(PyObject* object, std::string_view name, T fallback, T& out) {
    if (object == Py_None) {
        out = std::move(fallback);
        return true;
    }
    return scripting::convert_value(object, name, out);
}

bool invalid_address(std::string_view text) {
    std::string message = "Invalid IP address: " + std::string(text);
    raise(PyExc_ValueError, message);
    return false;
}

bool fill_settings(PyObject* const* values, ClientState& state) {
    std::string_view server;
    if (!binding::convert_str(values[0], "server", server)) return false;
    if (!convert_or_default<std::uint16_t>(values[1], "control_port", 1234, state.control_port)) return false;
    if (!convert_or_default<std::uint16_t>(values[2], "transport_channel_port", 1235, state.transport_channel_port))
        return false;
    if (!convert_or_default<std::string>(values[3], "username", "user1", state.username)) return false;
    if (!convert_or_default(values[4], "password", default_password(), state.password)) return false;
    if (!parse_address(server, state.server)) return invalid_address(server);
    set_port(state.server, state.control_port);
    return true;
}

PyObject* client_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* values[std::size(constructor_parameters)];
    if (!binding::parse_tuple_arguments({"HalvexClient", constructor_parameters}, args, kwargs, values))
        return nullptr;
    auto allocate = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    Ref self = Ref::steal(allocate(type, 0));
    if (!self) return nullptr;
    auto* client = reinterpret_cast<ClientObject*>(self.get());
    new (&client->borrow) binding::BorrowFlag();
    new (&client->state) ClientState();
    if (!fill_settings(values, client->state)) return nullptr;
    return self.release();
}

void client_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    state_of(self).~ClientState();
    auto release = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    release(self);
    Py_DECREF(type);
}

// Connection.

PyObject* raise_connect_failure(IoError error) {
    std::string message = "Failed to connect: " + describe(error);
    raise(PyExc_OSError, message);
    return nullptr;
}

PyObject* client_connect(PyObject* self, PyObject*) {
    binding::ExclusiveBorrow borrow(borrow_of(self));
    if (!borrow) return nullptr;
    ClientState& state = state_of(self);
    IoError error;
    int socket = open_connection(state.server, error);
    if (socket < 0) return raise_connect_failure(error);
    int reader_socket = fcntl(socket, F_DUPFD_CLOEXEC, 0);
    if (reader_socket < 0) {
        PyErr_SetFromErrno(PyExc_OSError);
        ::close(socket);
        return nullptr;
    }
    state.close_stream();
    state.stream = socket;
    if (int failure = start_reader(reader_socket); failure != 0)
        return binding::raise_fatal("failed to spawn thread: " + describe(IoError{failure}));
    Py_RETURN_NONE;
}

PyObject* client_disconnect(PyObject* self, PyObject*) {
    binding::ExclusiveBorrow borrow(borrow_of(self));
    if (!borrow) return nullptr;
    ClientState& state = state_of(self);
    if (state.stream < 0) {
        PyErr_SetString(PyExc_RuntimeError, "No active connection to disconnect");
        return nullptr;
    }
    state.close_stream();
    Py_RETURN_NONE;
}

// Sending.

// Parses the one argument, takes the borrow, lets `write_text` put the
// command text into the line, sends it and returns the tag.
template <bool (*WriteText)(PyObject*, std::string&)>
PyObject* send_one(PyObject* self, const binding::Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) {
    PyObject* argument = nullptr;
    if (!binding::parse_arguments(signature, args, nargs, kwnames, &argument)) return nullptr;
    binding::ExclusiveBorrow borrow(borrow_of(self));
    if (!borrow) return nullptr;
    ClientState& state = state_of(self);
    if (!WriteText(argument, state.line)) return nullptr;
    std::uint64_t tag = 0;
    SendFailure failure;
    if (!state.transmit(tag, failure)) return raise_send_failure(failure);
    return PyLong_FromUnsignedLongLong(tag);
}

bool raw_text(PyObject* message, std::string& line) {
    std::string_view text;
    if (!binding::convert_str(message, "message", text)) return false;
    line.assign(text);
    return true;
}

bool command_text(PyObject* argument, std::string& line) {
    const commands::Command* command = scripting::command_value(argument);
    if (!command) return binding::wrong_type(argument, "command", "Command");
    line.clear();
    commands::append_text(*command, line, tag_suffix_capacity);
    return true;
}

constexpr std::string_view message_parameter[] = {"message"};
constexpr std::string_view command_parameter[] = {"command"};

PyObject* client_send_raw_command(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return send_one<raw_text>(self, {"send_raw_command", message_parameter}, args, nargs, kwnames);
}

PyObject* client_send_command(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return send_one<command_text>(self, {"send_command", command_parameter}, args, nargs, kwnames);
}

// One method per command, generated from its declaration.

template <class R>
PyObject* send_record(PyObject* self, R& record) {
    ClientState& state = state_of(self);
    state.line.clear();
    commands::append_record_text(record, state.line, tag_suffix_capacity);
    std::uint64_t tag = 0;
    SendFailure failure;
    if (!state.transmit(tag, failure)) return report_send_failure(failure, R::info.on_send_failure);
    Py_RETURN_NONE;
}

template <class R>
PyObject* command_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr auto& names = scripting::parameter_names_v<R, Caller::Client>;
    PyObject* storage[names.size() + 1];
    PyObject* const* values = nullptr;
    if (!binding::arguments_in_order({R::info.client_method(), names}, args, nargs, kwnames, storage, values))
        return nullptr;
    binding::ExclusiveBorrow borrow(borrow_of(self));
    if (!borrow) return nullptr;
    ClientState& state = state_of(self);
    scripting::Credentials credentials{state.username, state.password};
    R record{};
    if (!scripting::fill_record<R, Caller::Client>(record, values, &credentials)) return nullptr;
    return send_record(self, record);
}

template <class R>
PyObject* command_method_without_arguments(PyObject* self, PyObject*) {
    return command_method<R>(self, nullptr, 0, nullptr);
}

template <class R>
PyMethodDef command_method_def() {
    std::string signature = binding::text_signature(R::info.client_method(),
                                                    scripting::parameter_list<R, Caller::Client>(true));
    const char* name = binding::keep(std::string(R::info.client_method()));
    if constexpr (scripting::parameter_count<R, Caller::Client>() == 0) {
        return {name, binding::method<command_method_without_arguments<R>>(), METH_NOARGS, binding::keep(signature)};
    } else {
        return {name, binding::method<command_method<R>>(),
                METH_FASTCALL | METH_KEYWORDS, binding::keep(signature)};
    }
}

// Details and tag.

PyObject* client_print_details(PyObject* self, PyObject*) {
    binding::SharedBorrow borrow(borrow_of(self));
    if (!borrow) return nullptr;
    const ClientState& state = state_of(self);
    std::string line = "HalvexClient(server: " + address_text(state.server) +
                       ", control_port: " + std::to_string(state.control_port) +
                       ", transport_channel_port: " + std::to_string(state.transport_channel_port) +
                       ", username: " + state.username + ", password: " + state.password + ")\n";
    if (int error = binding::write_stdout_line(line); error != 0)
        return binding::raise_fatal("failed printing to stdout: " + describe(IoError{error}));
    Py_RETURN_NONE;
}

PyObject* client_command_tag(PyObject* self, void*) {
    binding::SharedBorrow borrow(borrow_of(self));
    if (!borrow) return nullptr;
    return PyLong_FromUnsignedLongLong(state_of(self).command_tag);
}

std::vector<PyMethodDef> method_table() {
    std::vector<PyMethodDef> methods{
        {"connect", binding::method<client_connect>(), METH_NOARGS, "connect($self)\n--\n\n"},
        {"disconnect", binding::method<client_disconnect>(), METH_NOARGS, "disconnect($self)\n--\n\n"},
        {"send_raw_command", binding::method<client_send_raw_command>(), METH_FASTCALL | METH_KEYWORDS,
         "send_raw_command($self, message)\n--\n\n"},
        {"send_command", binding::method<client_send_command>(), METH_FASTCALL | METH_KEYWORDS,
         "send_command($self, command)\n--\n\n"},
    };
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (methods.push_back(command_method_def<commands::record_at<commands::client_method_order[I]>>()), ...);
    }(std::make_index_sequence<commands::command_count>());
    methods.push_back({"print_details", binding::method<client_print_details>(), METH_NOARGS, "print_details($self)\n--\n\n"});
    methods.push_back({nullptr, nullptr, 0, nullptr});
    return methods;
}

PyTypeObject* create_client_type() {
    static std::vector<PyMethodDef> methods = method_table();
    static PyGetSetDef properties[] = {
        {"command_tag", binding::property<client_command_tag>(), nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyType_Slot slots[] = {
        {Py_tp_new, binding::slot<client_new>()},
        {Py_tp_dealloc, reinterpret_cast<void*>(client_dealloc)},
        {Py_tp_methods, methods.data()},
        {Py_tp_getset, properties},
        {Py_tp_doc, const_cast<char*>(
                        "HalvexClient(server, control_port, transport_channel_port, username, password)\n--\n\n")},
        {0, nullptr},
    };
    return binding::create_type({"HalvexClient", sizeof(ClientObject), Py_TPFLAGS_IMMUTABLETYPE}, slots);
}

}  // namespace

PyTypeObject* client_type() {
    static PyTypeObject* type = nullptr;
    if (!type) type = create_client_type();
    return type;
}

}  // namespace halvex::client
