#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "serial/data_trigger.h"
#include "serial/serial_port.h"
#include "sim/pseudo_terminal.h"
#include "tests/support/port_dir.h"

namespace swb808 {
namespace {

// Byte positions at which `pattern` completes when `stream` is fed one byte at a time.
std::vector<size_t> matchEnds(const std::string& pattern, const std::string& stream,
                              bool ignoreCase = false) {
    DataTrigger t = MakeDataTrigger(pattern, ignoreCase, 8);
    std::vector<size_t> ends;
    for (size_t i = 0; i < stream.size(); ++i)
        if (t.Match(static_cast<uint8_t>(stream[i]))) ends.push_back(i);
    return ends;
}

// Plain search: an occurrence counts when it starts no earlier than the last byte of the
// previous one (a match drops every partial candidate except one starting at its last byte).
std::vector<size_t> referenceEnds(const std::string& pattern, const std::string& stream) {
    std::vector<size_t> ends;
    const size_t n = pattern.size();
    long lastEnd = -1;
    for (size_t e = n - 1; e < stream.size(); ++e) {
        const size_t start = e + 1 - n;
        if (static_cast<long>(start) < lastEnd) continue;
        if (stream.compare(start, n, pattern) == 0) {
            ends.push_back(e);
            lastEnd = static_cast<long>(e);
        }
    }
    return ends;
}

TEST(DataTriggerMatch, StreamsOfTheInputChangeFrame) {
    const std::string head = "\xC1\xB2\xE1";
    struct Case {
        std::string stream;
        std::vector<size_t> ends;
    } cases[] = {
        {"\xC1\xB2\xE1", {2}},
        {"\xC1\xC1\xB2\xE1", {3}},
        {"\xC1\xB2\xC1\xB2\xE1", {4}},
        {"\xC1\xB2\xB2\xE1", {}},
        {"\xC1\xB2\xE1\x51\x58\xA9\xDF\xC1\xB2\xE1\x51\x58\xA9\xDF", {2, 9}},
        {"\x11\x22\xC1\xB2\xE1", {4}},
        {"\xE1\xB2\xC1", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(matchEnds(head, c.stream), c.ends);
}

TEST(DataTriggerMatch, LastByteEqualToTheFirstMatchesAgain) {
    EXPECT_EQ(matchEnds("ABA", "ABABA"), (std::vector<size_t>{2, 4}));
    EXPECT_EQ(matchEnds("AA", "AAAA"), (std::vector<size_t>{1, 2, 3}));
    EXPECT_EQ(matchEnds("A", "BAAB"), (std::vector<size_t>{1, 2}));
}

// A candidate that fails on a byte equal to the first one must not restart when that byte
// has already started a candidate in another slot; such copies once filled every slot and the
// last alignment was never followed.
TEST(DataTriggerMatch, FailedCandidatesDoNotCrowdOutANewStart) {
    EXPECT_EQ(matchEnds("ABABB", "ABAABAABAABAABABABB"), (std::vector<size_t>{18}));
    EXPECT_EQ(matchEnds("abaB", "abaabaabaababaB"), (std::vector<size_t>{14}));
    EXPECT_EQ(matchEnds("ababb", "ABAABAABAABAABABABB", true), (std::vector<size_t>{18}));
}

TEST(DataTriggerMatch, CaseRules) {
    // Exact: every byte must agree.
    EXPECT_TRUE(matchEnds("\xC1", "\xE1").empty());
    EXPECT_TRUE(matchEnds("abc", "ABC").empty());
    // Ignoring case, Windows-1252 upper-casing applies to string and stream alike.
    EXPECT_EQ(matchEnds("\xC1\xB2", "\xE1\xB2", true), (std::vector<size_t>{1}));
    EXPECT_EQ(matchEnds("abc", "xABc", true), (std::vector<size_t>{3}));
    EXPECT_EQ(matchEnds("\xFF\x9A", "\x9F\x8A", true), (std::vector<size_t>{1}));
    EXPECT_TRUE(matchEnds("\xF7", "\xD7", true).empty());  // the division sign has no case
}

TEST(AnsiUpper, Windows1252Table) {
    for (int c = 0; c < 256; ++c) {
        int want = c;
        if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) want = c - 0x20;
        if (c == 0x9A) want = 0x8A;
        if (c == 0x9C) want = 0x8C;
        if (c == 0x9E) want = 0x8E;
        if (c == 0xFF) want = 0x9F;
        EXPECT_EQ(AnsiUpper(static_cast<uint8_t>(c)), want) << c;
    }
}

TEST(DataTriggerMatch, AgreesWithAPlainSearchOnRandomStreams) {
    std::mt19937 rng(20260808);
    for (int round = 0; round < 20000; ++round) {
        const int alphabet = 2 + static_cast<int>(rng() % 3);
        const size_t n = 1 + rng() % 8;
        std::string pattern, stream;
        for (size_t i = 0; i < n; ++i) pattern += static_cast<char>('A' + rng() % alphabet);
        const size_t len = rng() % 80;
        for (size_t i = 0; i < len; ++i) stream += static_cast<char>('A' + rng() % alphabet);
        ASSERT_EQ(matchEnds(pattern, stream), referenceEnds(pattern, stream))
            << "pattern " << pattern << " stream " << stream;
    }
}

TEST(DataTriggerRegistration, LengthsHandlesAndLimits) {
    test::TempPortDir dir;
    sim::PseudoTerminal pty;
    dir.Link(pty, 2);
    TSerialPort port;
    port.SetComNumber(2);
    port.SetBaud(115200);
    port.SetOpen(true);

    EXPECT_EQ(port.AddTriggerString(std::string(21, 'x'), false), 8);
    try {
        port.AddTriggerString(std::string(22, 'x'), false);
        FAIL();
    } catch (const ETriggerTooLong& e) {
        EXPECT_STREQ(e.what(), "Data trigger too long");
    }
    EXPECT_EQ(port.AddTriggerString("\xC1\xB2\xE1", false), 16);
    for (uint32_t i = 3; i < 4096; ++i) ASSERT_EQ(port.AddTriggerString("q", false), i * 8);
    // Counter exhausted and every multiple of 8 up to 4096 taken.
    try {
        port.AddTriggerString("q", false);
        FAIL();
    } catch (const ENoMoreTriggers& e) {
        EXPECT_STREQ(e.what(), "No more trigger slots");
    }
    port.SetOpen(false);
    // The counter restarts with every open; the triggers come back as well.
    port.SetOpen(true);
    EXPECT_EQ(port.AddTriggerString("abc", true), 8);
    port.SetOpen(false);
}

}  // namespace
}  // namespace swb808
