// Writing a whole buffer through a send function, and turning raw server
// bytes into the printed "Received: " line.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "client/line_io.hpp"

namespace halvex::client {
namespace {

using namespace std::string_view_literals;

// ---------------------------------------------------------------------------
// write_all

// One scripted answer of the fake send: take up to `accept` bytes, or fail
// with `error` (an errno value) when it is non-zero.
struct SendStep {
    std::size_t accept;
    int error;
};

SendStep take(std::size_t n) { return {n, 0}; }
SendStep fail(int error) { return {0, error}; }

// Plays its script, then takes everything it is offered.
struct FakeSend {
    std::vector<SendStep> script;
    std::string received;
    std::vector<std::size_t> offered_sizes;

    ssize_t operator()(const char* data, std::size_t size) {
        std::size_t call = offered_sizes.size();
        offered_sizes.push_back(size);
        SendStep step = call < script.size() ? script[call] : take(size);
        if (step.error != 0) {
            errno = step.error;
            return -1;
        }
        std::size_t n = step.accept < size ? step.accept : size;
        received.append(data, n);
        return static_cast<ssize_t>(n);
    }
};

struct WriteCase {
    const char* label;
    std::string_view data;
    std::vector<SendStep> script;
    std::string_view expected_received;
    int expected_code;  // 0: success
    std::size_t expected_calls;
    std::string_view expected_description;  // for failures
};

void PrintTo(const WriteCase& row, std::ostream* os) { *os << row.label; }

class WriteAll : public testing::TestWithParam<WriteCase> {};

TEST_P(WriteAll, SendsUntilDoneOrFailed) {
    const WriteCase& row = GetParam();
    FakeSend send{row.script, {}, {}};

    IoError error = write_all(send, row.data);

    EXPECT_EQ(error.code, row.expected_code);
    EXPECT_EQ(static_cast<bool>(error), row.expected_code != 0);
    EXPECT_EQ(send.received, row.expected_received);
    EXPECT_EQ(send.offered_sizes.size(), row.expected_calls);
    if (row.expected_code != 0) {
        EXPECT_EQ(describe(error), row.expected_description);
    }

    // Every send is offered exactly the bytes not yet taken.
    std::size_t taken = 0;
    for (std::size_t call = 0; call < send.offered_sizes.size(); ++call) {
        EXPECT_EQ(send.offered_sizes[call], row.data.size() - taken) << "call " << call;
        const SendStep step = call < row.script.size() ? row.script[call] : take(row.data.size());
        if (step.error == 0) taken += std::min(step.accept, row.data.size() - taken);
    }
}

const std::vector<WriteCase> write_rows = {
    {"OneSend", "Login a b 2 3 COMMANDTAG=0\n", {}, "Login a b 2 3 COMMANDTAG=0\n", 0, 1, ""},
    {"EmptyDataSendsNothing", "", {}, "", 0, 0, ""},
    {"ShortWrites", "abcdefghij", {take(3), take(1), take(4)}, "abcdefghij", 0, 4, ""},
    {"OneByteAtATime", "abcd", {take(1), take(1), take(1), take(1)}, "abcd", 0, 4, ""},
    {"InterruptedThenSuccess", "hello\n", {fail(EINTR)}, "hello\n", 0, 2, ""},
    {"InterruptedBetweenShortWrites", "hello world\n", {take(2), fail(EINTR), fail(EINTR), take(5)},
     "hello world\n", 0, 5, ""},
    {"ZeroByteSend", "abcdef", {take(0)}, "", IoError::write_zero, 1, "failed to write whole buffer"},
    {"ZeroByteSendAfterShortWrite", "abcdef", {take(2), take(0)}, "ab", IoError::write_zero, 2,
     "failed to write whole buffer"},
    {"BrokenPipeStopsAtOnce", "abcdef", {fail(EPIPE)}, "", EPIPE, 1, "Broken pipe (os error 32)"},
    {"ResetAfterShortWrite", "abcdef", {take(4), fail(ECONNRESET)}, "abcd", ECONNRESET, 2,
     "Connection reset by peer (os error 104)"},
    {"WouldBlockIsNotRetried", "abcdef", {fail(EAGAIN)}, "", EAGAIN, 1,
     "Resource temporarily unavailable (os error 11)"},
    {"InterruptedThenBrokenPipe", "abcdef", {fail(EINTR), take(1), fail(EPIPE)}, "a", EPIPE, 3,
     "Broken pipe (os error 32)"},
};

INSTANTIATE_TEST_SUITE_P(Scripts, WriteAll, testing::ValuesIn(write_rows),
                         [](const testing::TestParamInfo<WriteCase>& info) { return info.param.label; });

TEST(IoErrorDescription, SystemErrorsCarryTheirNumber) {
    struct Row {
        IoError error;
        std::string_view text;
    };
    const Row rows[] = {
        {IoError{EPIPE}, "Broken pipe (os error 32)"},
        {IoError{ECONNRESET}, "Connection reset by peer (os error 104)"},
        {IoError{ECONNREFUSED}, "Connection refused (os error 111)"},
        {IoError{EINTR}, "Interrupted system call (os error 4)"},
        {IoError{IoError::write_zero}, "failed to write whole buffer"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error.code);
        EXPECT_TRUE(static_cast<bool>(row.error));
        EXPECT_EQ(describe(row.error), row.text);
    }
    EXPECT_FALSE(static_cast<bool>(IoError{}));
}

// ---------------------------------------------------------------------------
// append_lossy_utf8: the expected texts are what Python 3 gives for
// bytes.decode("utf-8", errors="replace").

struct BytesCase {
    const char* label;
    std::string_view input;
    std::string_view expected;
};

void PrintTo(const BytesCase& row, std::ostream* os) { *os << row.label; }

std::string bytes_label(const testing::TestParamInfo<BytesCase>& info) { return info.param.label; }

class LossyUtf8 : public testing::TestWithParam<BytesCase> {};

TEST_P(LossyUtf8, DecodesLikePythonReplace) {
    std::string out;
    append_lossy_utf8(GetParam().input, out);
    EXPECT_EQ(out, GetParam().expected);
}

TEST_P(LossyUtf8, AppendsAfterExistingText) {
    std::string out = "Received: ";
    append_lossy_utf8(GetParam().input, out);
    EXPECT_EQ(out, "Received: " + std::string(GetParam().expected));
}

const std::vector<BytesCase> lossy_rows = {
    {"Empty", ""sv, ""sv},
    {"Ascii", "plain ascii 123"sv, "plain ascii 123"sv},
    {"ValidTwoByte", "caf\xC3\xA9"sv, "caf\xC3\xA9"sv},
    {"ValidThreeByte", "\xE2\x82\xAC 5"sv, "\xE2\x82\xAC 5"sv},
    {"ValidFourByte", "a\xF0\x9F\x98\x80" "b"sv, "a\xF0\x9F\x98\x80" "b"sv},
    {"ValidBoundaries",
     "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"sv,
     "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"sv},
    {"EmbeddedNul", "a\x00" "b"sv, "a\x00" "b"sv},
    {"LoneContinuation", "a\x80" "b"sv, "a\xEF\xBF\xBD" "b"sv},
    {"ContinuationRun", "\x80\xBF\x80"sv, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"sv},
    {"OverlongC0", "\xC0\x80"sv, "\xEF\xBF\xBD\xEF\xBF\xBD"sv},
    {"OverlongC1", "x\xC1\xBFy"sv, "x\xEF\xBF\xBD\xEF\xBF\xBDy"sv},
    {"OverlongE0", "\xE0\x80\x80"sv, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"sv},
    {"OverlongE0Upper", "\xE0\x9F\xBF"sv, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"sv},
    {"OverlongF0", "\xF0\x80\x80\x80"sv, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"sv},
    {"OverlongF0Upper", "\xF0\x8F\xBF\xBF"sv, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"sv},
    {"SurrogateLow", "\xED\xA0\x80"sv, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"sv},
    {"SurrogateHigh", "\xED\xBF\xBFz"sv, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz"sv},
    {"AboveMaxF4", "\xF4\x90\x80\x80"sv, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"sv},
    {"LeadF5", "\xF5\x80\x80\x80"sv, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"sv},
    {"LeadsF5ToFF", "\xF5\xF6\xF7\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF"sv,
     "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
     "\xEF\xBF\xBD\xEF\xBF\xBD"sv},
    {"TruncatedTwoMiddle", "\xC3" "A"sv, "\xEF\xBF\xBD" "A"sv},
    {"TruncatedThreeMiddle", "\xE2\x82" "A"sv, "\xEF\xBF\xBD" "A"sv},
    {"TruncatedThreeAfterLead", "\xE2" "A"sv, "\xEF\xBF\xBD" "A"sv},
    {"TruncatedFourMiddle", "\xF0\x9F\x98" "A"sv, "\xEF\xBF\xBD" "A"sv},
    {"TruncatedThenValid", "\xE2\x82\xE2\x82\xAC"sv, "\xEF\xBF\xBD\xE2\x82\xAC"sv},
    {"TruncatedTwoEnd", "ok\xC3"sv, "ok\xEF\xBF\xBD"sv},
    {"TruncatedThreeEnd", "ok\xE2\x82"sv, "ok\xEF\xBF\xBD"sv},
    {"TruncatedFourEnd", "ok\xF0\x9F\x98"sv, "ok\xEF\xBF\xBD"sv},
    {"LeadF4End", "\xF4"sv, "\xEF\xBF\xBD"sv},
    {"Mixed", "\xFF\xE2\x82\xAC\x80\xF0\x9F\x98\x80\xED\xA0"sv,
     "\xEF\xBF\xBD\xE2\x82\xAC\xEF\xBF\xBD\xF0\x9F\x98\x80\xEF\xBF\xBD\xEF\xBF\xBD"sv},
};

INSTANTIATE_TEST_SUITE_P(Bytes, LossyUtf8, testing::ValuesIn(lossy_rows), bytes_label);

// ---------------------------------------------------------------------------
// trim_white_space: the Unicode White_Space characters, and nothing else.

class TrimWhiteSpace : public testing::TestWithParam<BytesCase> {};

TEST_P(TrimWhiteSpace, RemovesOnlyWhiteSpaceAtBothEnds) {
    const std::string input(GetParam().input);
    std::string_view trimmed = trim_white_space(input);
    EXPECT_EQ(trimmed, GetParam().expected);
    // The result is a view into the text it was given.
    EXPECT_GE(trimmed.data(), input.data());
    EXPECT_LE(trimmed.data() + trimmed.size(), input.data() + input.size());
}

const std::vector<BytesCase> trim_rows = {
    {"Empty", ""sv, ""sv},
    {"NothingToTrim", "abc"sv, "abc"sv},
    {"AsciiWhiteSpace", " \t\n\v\f\rabc \t\n\v\f\r"sv, "abc"sv},
    {"InnerWhiteSpaceKept", "  a \t b  "sv, "a \t b"sv},
    {"OnlyWhiteSpace", " \t\xC2\xA0\xE3\x80\x80\r\n"sv, ""sv},
    {"NoBreakSpace", "\xC2\xA0x\xC2\xA0"sv, "x"sv},
    {"NextLine", "\xC2\x85x\xC2\x85"sv, "x"sv},
    {"IdeographicSpace", "\xE3\x80\x80x\xE3\x80\x80"sv, "x"sv},
    {"LineAndParagraphSeparators", "\xE2\x80\xA8x\xE2\x80\xA9"sv, "x"sv},
    {"OghamSpaceMark", "\xE1\x9A\x80x\xE1\x9A\x80"sv, "x"sv},
    {"EnQuadAndHairSpace", "\xE2\x80\x80x\xE2\x80\x8A"sv, "x"sv},
    {"NarrowNoBreakAndMathSpace", "\xE2\x80\xAFx\xE2\x81\x9F"sv, "x"sv},
    {"MixedRunsAtBothEnds", "\xE3\x80\x80 \xC2\xA0\tx y\xE2\x80\xA8\r\n\xC2\x85"sv, "x y"sv},
    {"ZeroWidthSpaceStays", "\xE2\x80\x8Bx\xE2\x80\x8B"sv, "\xE2\x80\x8Bx\xE2\x80\x8B"sv},
    {"ByteOrderMarkStays", "\xEF\xBB\xBFx\xEF\xBB\xBF"sv, "\xEF\xBB\xBFx\xEF\xBB\xBF"sv},
    {"MongolianVowelSeparatorStays", "\xE1\xA0\x8Ex\xE1\xA0\x8E"sv, "\xE1\xA0\x8Ex\xE1\xA0\x8E"sv},
    {"WordJoinerStays", "\xE2\x81\xA0x\xE2\x81\xA0"sv, "\xE2\x81\xA0x\xE2\x81\xA0"sv},
    {"InformationSeparatorsStay", "\x1Cx\x1F"sv, "\x1Cx\x1F"sv},
    {"NulStays", "\x00x\x00"sv, "\x00x\x00"sv},
    {"HyphenBesideSpacesStays", " \xE2\x80\x90 "sv, "\xE2\x80\x90"sv},
    {"IdeographicCommaStays", "\xE3\x80\x81"sv, "\xE3\x80\x81"sv},
    // Characters whose last byte equals a one-byte or two-byte space's code.
    {"AGraveStays", " \xC3\xA0 x \xC3\xA0 "sv, "\xC3\xA0 x \xC3\xA0"sv},
    {"ARingStays", "\xC3\x85x\xC3\x85"sv, "\xC3\x85x\xC3\x85"sv},
    {"FourByteCharactersStay", "\t\xF0\x9F\x98\x80 \xF0\x9F\x98\x80\n"sv, "\xF0\x9F\x98\x80 \xF0\x9F\x98\x80"sv},
    {"ReplacementCharacterStays", " \xEF\xBF\xBD "sv, "\xEF\xBF\xBD"sv},
};

INSTANTIATE_TEST_SUITE_P(Texts, TrimWhiteSpace, testing::ValuesIn(trim_rows), bytes_label);

// ---------------------------------------------------------------------------
// format_received_line

class ReceivedLine : public testing::TestWithParam<BytesCase> {};

TEST_P(ReceivedLine, IsPrefixedTrimmedAndEndsInOneLineFeed) {
    std::string out;
    format_received_line(GetParam().input, out);
    EXPECT_EQ(out, GetParam().expected);
}

const std::vector<BytesCase> received_rows = {
    {"CrLfLine", "OK\r\n"sv, "Received: OK\n"sv},
    {"SpacesOnly", "  \r\n"sv, "Received: \n"sv},
    {"LastLineWithoutLineFeed", "last"sv, "Received: last\n"sv},
    {"Empty", ""sv, "Received: \n"sv},
    {"LineFeedOnly", "\n"sv, "Received: \n"sv},
    {"InnerSpacesKept", "\t200 OK  Tag=3 \r\n"sv, "Received: 200 OK  Tag=3\n"sv},
    {"UnicodeWhiteSpaceTrimmed", "\xC2\xA0 hi \xE3\x80\x80\n"sv, "Received: hi\n"sv},
    {"InvalidByteReplaced", "\xFFOK\n"sv, "Received: \xEF\xBF\xBDOK\n"sv},
    {"TruncatedSequenceAtEnd", "abc\xE2\x82\r\n"sv, "Received: abc\xEF\xBF\xBD\n"sv},
    // A lone 0x85 byte is invalid, not U+0085, so it is replaced and kept.
    {"LoneNextLineByteIsNotWhiteSpace", "\t\x85\n"sv, "Received: \xEF\xBF\xBD\n"sv},
    {"ReplacementBetweenSpaces", " \x80 \n"sv, "Received: \xEF\xBF\xBD\n"sv},
};

INSTANTIATE_TEST_SUITE_P(Lines, ReceivedLine, testing::ValuesIn(received_rows), bytes_label);

TEST(ReceivedLineBuffer, ReusedBufferHoldsOnlyTheNewLine) {
    std::string out;
    format_received_line("a much longer first line\r\n", out);
    format_received_line("OK\n", out);
    EXPECT_EQ(out, "Received: OK\n");
}

}  // namespace
}  // namespace halvex::client
