// Writes the type stubs of the Python surface (package halvex_rs-stubs) from
// the command declarations, so that they can never drift from the commands.
// Usage: halvex_stubgen <output directory>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>

#include "commands/command.hpp"
#include "commands/parameters.hpp"

namespace halvex::commands {
namespace {

template <class T>
std::string python_kind() {
    if constexpr (std::is_same_v<T, bool>) {
        return "bool";
    } else if constexpr (std::is_integral_v<T>) {
        return "int";
    } else if constexpr (std::is_same_v<T, std::string>) {
        return "str";
    } else {
        return "_classes." + std::string(kind_name<T>);
    }
}

template <class Field>
std::string annotation() {
    std::string kind = python_kind<value_of_t<typename Field::member_type>>();
    return accepts_none<Field> ? kind + " | None" : kind;
}

// "name: kind, ..." for the parameters a caller passes.
template <class R, Caller C>
std::string typed_parameters(std::string text) {
    for_each_field<R>([&](const auto& field) {
        if (!is_parameter(field, C)) return;
        if (!text.empty()) text += ", ";
        text += std::string(field.name) + ": " + annotation<std::remove_cvref_t<decltype(field)>>();
    });
    return text;
}

template <class F>
void for_each_command(F&& f) {
    [&]<std::size_t... I>(std::index_sequence<I...>) { (f.template operator()<record_at<I>>(), ...); }(
        std::make_index_sequence<command_count>());
}

template <class F>
void for_each_client_method(F&& f) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (f.template operator()<record_at<client_method_order[I]>>(), ...);
    }(std::make_index_sequence<command_count>());
}

const char* header = "# Generated from the command declarations; do not edit.\n";

std::string init_stub() {
    return std::string(header) +
           "from . import client as client\n"
           "from . import commands as commands\n\n"
           "__all__ = [\"sum_as_string\", \"client\", \"commands\"]\n\n"
           "def sum_as_string(a: int, b: int) -> str: ...\n";
}

std::string client_stub() {
    std::string text = std::string(header) +
                       "from typing import final\n\n"
                       "from . import _classes\n"
                       "from .commands import Command\n\n"
                       "__all__ = [\"HalvexClient\", \"sum_as_string\"]\n\n"
                       "@final\n"
                       "class HalvexClient:\n"
                       "    def __new__(cls, server: str, control_port: int | None, transport_channel_port: int | None,"
                       " username: str | None, password: str | None) -> HalvexClient: ...\n"
                       "    @property\n"
                       "    def command_tag(self) -> int: ...\n"
                       "    def connect(self) -> None: ...\n"
                       "    def disconnect(self) -> None: ...\n"
                       "    def send_raw_command(self, message: str) -> int: ...\n"
                       "    def send_command(self, command: Command) -> int: ...\n";
    for_each_client_method([&]<class R>() {
        text += "    def " + std::string(R::info.client_method()) + "(" +
                typed_parameters<R, Caller::Client>("self") + ") -> None: ...\n";
    });
    text += "    def print_details(self) -> None: ...\n\n"
            "def sum_as_string(a: int, b: int) -> str: ...\n";
    return text;
}

std::string commands_stub() {
    std::string text = std::string(header) +
                       "from typing import final\n\n"
                       "from typing_extensions import disjoint_base\n\n"
                       "from . import _classes\n\n"
                       "__all__ = [\"Command\"]\n\n"
                       "@disjoint_base\n"
                       "class Command:\n"
                       "    def __str__(self) -> str: ...\n";
    for_each_command([&]<class R>() {
        text += "    @staticmethod\n    def " + std::string(R::info.name) + "(" +
                typed_parameters<R, Caller::Constructor>("") + ") -> Command." + std::string(R::info.keyword) +
                ": ...\n";
    });
    for_each_command([&]<class R>() {
        std::string variant(R::info.keyword);
        std::string payload = "_classes." + variant;
        text += "    @final\n"
                "    class " + variant + "(Command):\n"
                "        __match_args__ = (\"_0\",)\n"
                "        def __new__(cls, _0: " + payload + ") -> Command." + variant + ": ...\n"
                "        @property\n"
                "        def _0(self) -> " + payload + ": ...\n"
                "        def __len__(self) -> int: ...\n"
                "        def __getitem__(self, idx: int, /) -> " + payload + ": ...\n";
    });
    return text;
}

// Classes that no module holds: parameter kinds and command payloads.
std::string classes_stub() {
    std::string text = std::string(header) + "from typing import ClassVar, final\n";
    auto add_enum = [&]<class E>() {
        std::string name(kind_name<E>);
        text += "\n@final\nclass " + name + ":\n";
        for (const auto& member : EnumMembers<E>::list)
            text += "    " + std::string(member.name) + ": ClassVar[" + name + "]\n";
        text += "    def __int__(self) -> int: ...\n";
    };
    add_enum.template operator()<Channels>();
    add_enum.template operator()<Ecm>();
    for (std::string_view name : {kind_name<AudioFormatType>, kind_name<PayloadType>, kind_name<ToneType>,
                                  kind_name<ConstantWithDescription>})
        text += "\n@final\nclass " + std::string(name) + ": ...\n";
    for_each_command([&]<class R>() { text += "\n@final\nclass " + std::string(R::info.keyword) + ": ...\n"; });
    return text;
}

bool write_file(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

}  // namespace
}  // namespace halvex::commands

int main(int argc, char** argv) {
    using namespace halvex::commands;
    if (argc != 2) {
        std::cerr << "usage: halvex_stubgen <output directory>\n";
        return 2;
    }
    std::filesystem::path directory(argv[1]);
    std::filesystem::create_directories(directory);
    bool ok = write_file(directory / "__init__.pyi", init_stub()) &&
              write_file(directory / "client.pyi", client_stub()) &&
              write_file(directory / "commands.pyi", commands_stub()) &&
              write_file(directory / "_classes.pyi", classes_stub());
    return ok ? 0 : 1;
}
