#include "client/line_io.hpp"

#include <cstdint>
#include <cstring>

namespace halvex::client {

std::string describe(IoError error) {
    if (error.code == IoError::write_zero) return "failed to write whole buffer";
    char buffer[256];
    // The GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(error.code, buffer, sizeof buffer);
    return std::string(text) + " (os error " + std::to_string(error.code) + ")";
}

namespace {

constexpr std::string_view replacement_character = "\xEF\xBF\xBD";

struct SequenceRule {
    int continuation_bytes;  // -1: the byte cannot start a sequence
    unsigned char second_min;
    unsigned char second_max;
};

// Which bytes may follow a lead byte (the table of well-formed UTF-8).
constexpr SequenceRule rule_for(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return {1, 0x80, 0xBF};
    if (lead == 0xE0) return {2, 0xA0, 0xBF};
    if (lead == 0xED) return {2, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF) return {2, 0x80, 0xBF};
    if (lead == 0xF0) return {3, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3) return {3, 0x80, 0xBF};
    if (lead == 0xF4) return {3, 0x80, 0x8F};
    return {-1, 0, 0};
}

bool in_range(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

// Length of the longest well-formed prefix of the sequence that starts at
// `bytes[0]`, and whether that prefix is a whole character.
std::size_t well_formed_prefix(std::string_view bytes, bool& complete) {
    auto lead = static_cast<unsigned char>(bytes[0]);
    SequenceRule rule = rule_for(lead);
    complete = false;
    if (rule.continuation_bytes < 0) return 1;
    std::size_t length = 1;
    for (int k = 0; k < rule.continuation_bytes; ++k) {
        if (length >= bytes.size()) return length;
        auto next = static_cast<unsigned char>(bytes[length]);
        bool fits = k == 0 ? in_range(next, rule.second_min, rule.second_max) : in_range(next, 0x80, 0xBF);
        if (!fits) return length;
        ++length;
    }
    complete = true;
    return length;
}

}  // namespace

namespace {

// The end of the run of ASCII bytes that starts at `i`, eight bytes a step.
std::size_t ascii_run_end(std::string_view bytes, std::size_t i) {
    constexpr std::uint64_t high_bits = 0x8080808080808080ULL;
    for (std::uint64_t word; i + sizeof word <= bytes.size(); i += sizeof word) {
        std::memcpy(&word, bytes.data() + i, sizeof word);
        if (word & high_bits) break;
    }
    while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
    return i;
}

}  // namespace

void append_lossy_utf8(std::string_view bytes, std::string& out) {
    out.reserve(out.size() + bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t run = ascii_run_end(bytes, i);
        out.append(bytes.substr(i, run - i));
        i = run;
        if (i == bytes.size()) break;
        bool complete = false;
        std::size_t length = well_formed_prefix(bytes.substr(i), complete);
        if (complete) {
            out.append(bytes.substr(i, length));
        } else {
            out.append(replacement_character);
        }
        i += length;
    }
}

namespace {

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// Decodes the well-formed character of `length` bytes at `p`.
char32_t decode(const char* p, std::size_t length) {
    auto byte = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(p[k])); };
    switch (length) {
        case 1: return byte(0);
        case 2: return ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
        case 3: return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
        default: return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
    }
}

std::size_t sequence_length(char lead) {
    auto b = static_cast<unsigned char>(lead);
    if (b < 0x80) return 1;
    if (b < 0xE0) return 2;
    if (b < 0xF0) return 3;
    return 4;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
    while (!text.empty()) {
        std::size_t length = sequence_length(text.front());
        if (length > text.size() || !is_white_space(decode(text.data(), length))) break;
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        std::size_t start = text.size() - 1;
        while (start > 0 && is_continuation(text[start])) --start;
        if (!is_white_space(decode(text.data() + start, text.size() - start))) break;
        text.remove_suffix(text.size() - start);
    }
    return text;
}

namespace {

bool is_ascii_space(char c) { return (c >= 0x09 && c <= 0x0D) || c == ' '; }

// An ASCII byte is a character of its own however the bytes around it
// decode, so ASCII white space can be trimmed before decoding, cheaply.
std::string_view trim_ascii_space(std::string_view bytes) {
    while (!bytes.empty() && is_ascii_space(bytes.front())) bytes.remove_prefix(1);
    while (!bytes.empty() && is_ascii_space(bytes.back())) bytes.remove_suffix(1);
    return bytes;
}

}  // namespace

void format_received_line(std::string_view raw_line, std::string& out) {
    static constexpr std::string_view prefix = "Received: ";
    out.assign(prefix);
    append_lossy_utf8(trim_ascii_space(raw_line), out);
    std::string_view trimmed = trim_white_space(std::string_view(out).substr(prefix.size()));
    std::size_t offset = static_cast<std::size_t>(trimmed.data() - out.data());
    std::size_t length = trimmed.size();
    out.erase(prefix.size(), offset - prefix.size());
    out.resize(prefix.size() + length);
    out.push_back('\n');
}

}  // namespace halvex::client
