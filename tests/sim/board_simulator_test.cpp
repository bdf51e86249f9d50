#include "sim/board_simulator.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <thread>

#include "sim/frame_codec.h"
#include "tests/sim/slave_line.h"

namespace swb808::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using test::SlaveLine;

Bytes Request(uint8_t code, uint8_t arg = 0) {
    return EncodeFrame(code, {arg});
}

std::vector<Frame> Decode(const Bytes& wire) {
    FrameParser p;
    std::vector<Frame> frames;
    for (uint8_t b : wire)
        if (auto f = p.Feed(b)) frames.push_back(*f);
    return frames;
}

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/swb808-simtest-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        options_.link = dir_ + "/com3";
        options_.pacing = false;
        options_.restartDelay = 300ms;
        options_.relays = 0x05;
        options_.inputs = 0x81;
    }
    void TearDown() override {
        line_.reset();
        board_.reset();
        std::filesystem::remove_all(dir_);
    }
    BoardSimulator& Start(speed_t speed = B9600) {
        board_ = std::make_unique<BoardSimulator>(options_);
        board_->Start();
        line_ = std::make_unique<SlaveLine>(options_.link, speed);
        EXPECT_TRUE(line_->IsOpen());
        return *board_;
    }
    // The reply of `replyLength` bytes, and whatever follows it closely.
    Bytes Ask(const Bytes& request, size_t replyLength) {
        line_->Write(request);
        Bytes reply = line_->Read(replyLength, 1s);
        Bytes more = line_->ReadFor(20ms);
        reply.insert(reply.end(), more.begin(), more.end());
        return reply;
    }
    Bytes Echoed(const Bytes& block) {
        line_->Write(block);
        return line_->Read(2, 1s);
    }
    // True if nothing comes back within a generous reply time.
    bool Unanswered(const Bytes& request) {
        line_->Write(request);
        return line_->ReadFor(150ms).empty();
    }

    std::string dir_;
    BoardOptions options_;
    std::unique_ptr<BoardSimulator> board_;
    std::unique_ptr<SlaveLine> line_;
};

TEST(FrameCodec, EncodesNibblesLowFirstWithCheckNibble) {
    EXPECT_EQ(EncodeFrame(0xB2, {0x05}), (Bytes{0xC1, 0xB2, 0xE1, 0x55, 0x50, 0xA5, 0xDF}));
    EXPECT_EQ(EncodeFrame(0xB4, {5, 2, 0, 1, 0, 1, 9}),
              (Bytes{0xC1, 0xB4, 0xE7, 0x55, 0x50, 0x52, 0x50, 0x50, 0x50, 0x51, 0x50, 0x50, 0x50,
                     0x51, 0x50, 0x59, 0x50, 0xA2, 0xDF}));
    EXPECT_EQ(EncodeFrame(0xB6, Bytes(16, 0x41))[2], 0xE0);
}

TEST(FrameCodec, ParserHuntsStartByteAndDropsJunk) {
    // Junk, a frame cut short by a new start, a bad check byte, then one good frame.
    Bytes wire = {0x00, 0xDF, 0x37, 0xC1, 0xB7, 0xE1, 0x50,
                  0xC1, 0xB3, 0xE1, 0x50, 0x50, 0xA1, 0xDF};
    Bytes good = EncodeFrame(0xB5, {0x42});
    wire.insert(wire.end(), good.begin(), good.end());
    auto frames = Decode(wire);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].command, 0xB5);
    EXPECT_EQ(frames[0].payload, Bytes{0x42});
}

TEST_F(SimTest, VersionRequestGetsFifteenByteReply) {
    Start();
    line_->Write({0xDF});  // the scan's wake byte is ignored
    EXPECT_EQ(Ask(Request(0xB7), 15), (Bytes{0xC1, 0xB7, 0xE5, 0x51, 0x53, 0x5E, 0x52, 0x50, 0x53,
                                             0x57, 0x53, 0x51, 0x56, 0xA8, 0xDF}));
    EXPECT_EQ(board_->ReceivedBytes().size(), 8u);
}

TEST_F(SimTest, ReadCommandsAnswerWithTheirCodeAndLength) {
    options_.vcc = 800;
    options_.config = {0, 2, 0, 1, 0, 1};
    auto& board = Start();
    struct Case {
        uint8_t command;
        size_t length;
        Bytes payload;
    } cases[] = {
        {0xB3, 7, {0x05}},
        {0xB1, 7, {0x81}},  // code 1: code 2 is the input-change frame
        {0xB5, 17, {5, 2, 0, 1, 0, 1}},
        {0xBC, 9, {0x20, 0x03}},
        {0xB8, 7, {0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        auto reply = Ask(Request(c.command), c.length);
        ASSERT_EQ(reply.size(), c.length);
        auto frames = Decode(reply);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].command, c.command);
        EXPECT_EQ(frames[0].payload, c.payload);
    }
    auto identity = Ask(Request(0xB6, 0x81), 4 * 37);
    ASSERT_EQ(identity.size(), 4u * 37);
    std::string text;
    for (const auto& f : Decode(identity)) {
        EXPECT_EQ(f.command, 0xB6);
        text.append(f.payload.begin(), f.payload.end());
    }
    EXPECT_EQ(text, board.Identity());
    EXPECT_EQ(text.size(), 64u);
}

TEST_F(SimTest, BytesAtAnotherRateAreNoiseBothWays) {
    auto& board = Start(B19200);
    EXPECT_TRUE(Unanswered(Request(0xB7)));
    EXPECT_EQ(board.ReceivedBytes().size(), 7u);
    EXPECT_TRUE(board.UnderstoodBytes().empty());
    // What the board sends meanwhile reaches the program garbled.
    board.SetInputs(0x03);
    auto garbled = line_->Read(7, 1s);
    ASSERT_EQ(garbled.size(), 7u);
    EXPECT_EQ(std::find(garbled.begin(), garbled.end(), 0xC1), garbled.end());
    // Back at the board's rate it answers.
    line_->SetSpeed(B9600);
    EXPECT_EQ(Ask(Request(0xB7), 15).size(), 15u);
}

TEST_F(SimTest, AnswersAtEveryBoardRateSetWithTermios2) {
    for (unsigned rate : {14400u, 28800u, 76800u, 230400u}) {
        SCOPED_TRACE(rate);
        options_.baud = rate;
        Start();
        ASSERT_TRUE(line_->SetRate(rate + 100));
        EXPECT_TRUE(Unanswered(Request(0xB7)));
        ASSERT_TRUE(line_->SetRate(rate));
        EXPECT_EQ(Ask(Request(0xB7), 15).size(), 15u);
    }
}

TEST_F(SimTest, TraceLogsBothDirectionsWithRate) {
    std::vector<std::string> lines;
    std::mutex mu;
    options_.trace = true;
    options_.traceSink = [&](const std::string& line) {
        std::lock_guard lock(mu);
        lines.push_back(line);
    };
    auto& board = Start(B19200);
    EXPECT_TRUE(Unanswered(Request(0xB7)));
    line_->SetSpeed(B9600);
    ASSERT_EQ(Ask(Request(0xB7), 15).size(), 15u);
    board.Stop();
    std::lock_guard lock(mu);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find(" --   9600 (opened)"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" rx   9600 C1 B7 E1 50 50 A0 DF (noise)"), std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find(" rx   9600 C1 B7 E1 50 50 A0 DF"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find(" tx   9600 C1 B7 E5"), std::string::npos) << lines[3];
}

TEST_F(SimTest, InputChangeSendsFrameOnlyOnChange) {
    auto& board = Start();
    board.SetInputs(0x81);  // unchanged
    EXPECT_TRUE(line_->ReadFor(100ms).empty());
    board.SetInputs(0x05);
    EXPECT_EQ(line_->Read(7, 500ms), (Bytes{0xC1, 0xB2, 0xE1, 0x55, 0x50, 0xA5, 0xDF}));
    EXPECT_EQ(board.Inputs(), 0x05);

    // A change crossing a read: ahead of its reply or right behind it, with the next command
    // that gets one.
    board.SetInputsAtNextReply(0x06, BoardSimulator::ChangeAt::BeforeReply);
    line_->Write(Request(0xB2, 0x01));  // no reply
    Bytes ahead = EncodeFrame(0xB2, {0x06});
    const Bytes relays = EncodeFrame(0xB3, {0x01});
    ahead.insert(ahead.end(), relays.begin(), relays.end());
    EXPECT_EQ(Ask(Request(0xB3), 14), ahead);
    board.SetInputsAtNextReply(0x07, BoardSimulator::ChangeAt::AfterReply);
    Bytes behind = EncodeFrame(0xB1, {0x06});
    const Bytes change = EncodeFrame(0xB2, {0x07});
    behind.insert(behind.end(), change.begin(), change.end());
    EXPECT_EQ(Ask(Request(0xB1), 14), behind);
    EXPECT_EQ(board.Inputs(), 0x07);
}

TEST_F(SimTest, WritesAreStoredOnlyWhenValid) {
    auto& board = Start();
    const std::array<uint8_t, 6> before = board.Config();
    struct Case {
        Bytes payload;
        bool stored;
    } cases[] = {
        {{13, 0xFF, 0xFF, 0xFF, 0xFF, 7, 0x10}, true},
        {{5, 2, 0, 1, 0, 1, 0x0A}, false},   // checksum off by one
        {{5, 2, 0, 1, 0, 1}, false},         // no checksum
        {{14, 2, 0, 1, 0, 1, 0x16}, false},  // no such rate
        {{5, 2, 0, 1, 0, 1, 0x09}, true},
    };
    std::array<uint8_t, 6> expected = before;
    for (const auto& c : cases) {
        line_->Write(EncodeFrame(0xB4, c.payload));
        if (c.stored) std::copy_n(c.payload.begin(), 6, expected.begin());
        auto reply = Ask(Request(0xB5), 17);  // also proves the write went unanswered
        auto frames = Decode(reply);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].payload, Bytes(expected.begin(), expected.end()));
    }
    EXPECT_EQ(board.Config(), expected);
    line_->Write(Request(0xB2, 0xA0));
    EXPECT_EQ(Decode(Ask(Request(0xB3), 7)).at(0).payload, Bytes{0xA0});
}

TEST_F(SimTest, ResetRestartsAtStoredRateAfterDeafPause) {
    auto& board = Start();
    line_->Write(EncodeFrame(0xB4, {7, 2, 0, 1, 0, 0, 10}));  // 19200
    line_->Write(Request(0xBA));
    ASSERT_TRUE(board.WaitForReceived(26, 1s));
    EXPECT_EQ(board.ResetCount(), 1);
    EXPECT_EQ(board.Mode(), BoardMode::Restarting);
    line_->Write(Request(0xB7));  // deaf meanwhile
    EXPECT_TRUE(line_->ReadFor(100ms).empty());
    ASSERT_TRUE(board.WaitForMode(BoardMode::Firmware, 1s));
    EXPECT_EQ(board.Rate(), 19200u);
    EXPECT_EQ(board.Relays(), 0);  // outputs come up off
    EXPECT_TRUE(Unanswered(Request(0xB7)));
    line_->SetSpeed(B19200);
    EXPECT_EQ(Ask(Request(0xB7), 15).size(), 15u);
}

Bytes Block(const Bytes& image, size_t k) {
    Bytes b(image.begin() + static_cast<long>(k * 64),
            image.begin() + static_cast<long>(k * 64 + 64));
    unsigned sum = std::accumulate(b.begin(), b.end(), 0u);
    b.push_back(static_cast<uint8_t>(sum & 0xFF));
    b.push_back(static_cast<uint8_t>(sum >> 8));
    return b;
}

Bytes Echo(const Bytes& image, size_t k) {
    Bytes b = Block(image, k);
    return {b[64], b[65]};
}

Bytes TestImage(const std::string& version) {
    Bytes image(kImageSize);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
    const std::string marker = version + "WXYZVERSION";
    std::copy(marker.begin(), marker.end(), image.begin() + 200);
    unsigned sum = std::accumulate(image.begin(), image.end() - 2, 0u);
    image[6142] = static_cast<uint8_t>(sum & 0xFF);
    image[6143] = static_cast<uint8_t>((sum >> 8) & 0xFF);
    return image;
}

TEST_F(SimTest, BootloaderHandshakeAndFullTransfer) {
    options_.bootloader = true;
    auto& board = Start(B19200);
    EXPECT_EQ(board.Rate(), 19200u);
    EXPECT_EQ(Ask({0x78}, 2), (Bytes{0x00, 0x1E}));
    EXPECT_EQ(Ask({0x78}, 2), (Bytes{0x00, 0x1E}));  // a repeated probe is answered again
    const Bytes image = TestImage("2.00b");
    for (size_t k = 0; k < kBlockCount; ++k) {
        ASSERT_EQ(Echoed(Block(image, k)), Echo(image, k)) << "block " << k;
    }
    EXPECT_EQ(board.Image(), image);
    EXPECT_TRUE(board.ImageValid());
    EXPECT_EQ(board.FlashCount(), 1);
    ASSERT_TRUE(board.WaitForMode(BoardMode::Firmware, 1s));
    line_->SetSpeed(B9600);
    auto frames = Decode(Ask(Request(0xB7), 15));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(std::string(frames[0].payload.begin(), frames[0].payload.end()), "2.00b");
}

TEST_F(SimTest, BootloaderIgnoresOtherRatesAndBadImageStaysInBootloader) {
    options_.bootloader = true;
    auto& board = Start(B9600);
    EXPECT_TRUE(Unanswered({0x78}));
    line_->SetSpeed(B19200);
    ASSERT_EQ(Ask({0x78}, 2), (Bytes{0x00, 0x1E}));
    Bytes image = TestImage("2.00b");
    image[6143] ^= 0xFF;  // wrong image checksum
    // First data byte 0x78 arriving with the rest of its block is data, not a probe.
    image[0] = 0x78;
    for (size_t k = 0; k < kBlockCount; ++k) ASSERT_EQ(Echoed(Block(image, k)), Echo(image, k));
    EXPECT_FALSE(board.ImageValid());
    EXPECT_EQ(board.Image(), image);
    EXPECT_EQ(board.Mode(), BoardMode::Bootloader);
    EXPECT_EQ(board.Version(), "1.07a");
}

TEST_F(SimTest, InApplicationUpdateTakesBlocksAtCurrentRate) {
    options_.baud = 115200;
    auto& board = Start(B115200);
    auto ack = Ask(Request(0xBB), 7);
    ASSERT_EQ(Decode(ack).size(), 1u);
    EXPECT_EQ(board.Mode(), BoardMode::Update);
    const Bytes image = TestImage("1.08c");
    for (size_t k = 0; k < kBlockCount; ++k) ASSERT_EQ(Echoed(Block(image, k)), Echo(image, k));
    EXPECT_EQ(board.Image(), image);
    EXPECT_EQ(board.FlashCount(), 1);
    EXPECT_EQ(board.Version(), "1.08c");
}

TEST_F(SimTest, ReplyFaults) {
    auto& board = Start();
    const Bytes version = Ask(Request(0xB7), 15);
    struct Case {
        FaultKind kind;
        int arg;
        uint8_t command;
        size_t expect;  // bytes that arrive
        std::function<void(const Bytes&)> check;
    } cases[] = {
        {FaultKind::BadCheck, 0xB5, 0xB5, 17,
         [](const Bytes& r) {
             EXPECT_TRUE(Decode(r).empty());
             EXPECT_EQ(r[15] & 0xF0, 0xA0);
         }},
        {FaultKind::BadCheck, 0xB5, 0xB7, 15, [&](const Bytes& r) { EXPECT_EQ(r, version); }},
        {FaultKind::Truncated, 0, 0xBC, 7,
         [](const Bytes& r) {
             EXPECT_EQ(r, (Bytes{0xC1, 0xBC, 0xE2, 0x50, 0x52, 0x53, 0x50}));
         }},
        {FaultKind::VersionCode6, 0, 0xB7, 15, [](const Bytes& r) { EXPECT_EQ(r[1], 0xB6); }},
        {FaultKind::VersionShort, 0, 0xB7, 13,
         [](const Bytes& r) {
             EXPECT_EQ(r[2], 0xE4);
             EXPECT_EQ(Decode(r).size(), 1u);
         }},
        {FaultKind::StrayByte, 0x3C, 0xB3, 8,
         [](const Bytes& r) {
             EXPECT_EQ(r[0], 0x3C);
             EXPECT_EQ(Decode(r).size(), 1u);
         }},
        {FaultKind::Garbage, 20, 0xB3, 27,
         [](const Bytes& r) { EXPECT_EQ(Bytes(r.end() - 7, r.end()), EncodeFrame(0xB3, {0x05})); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(FaultName(c.kind));
        board.SetFault(c.kind, c.arg);
        auto reply = Ask(Request(c.command), c.expect);
        board.ClearFaults();
        ASSERT_EQ(reply.size(), c.expect);
        c.check(reply);
    }
    EXPECT_EQ(Ask(Request(0xB3), 7), EncodeFrame(0xB3, {0x05}));  // one-shot faults are gone
}

TEST_F(SimTest, IdentityFaultHitsTheChosenReply) {
    auto& board = Start();
    board.SetFault(FaultKind::IdentityBadCheck);  // the third
    auto reply = Ask(Request(0xB6), 4 * 37);
    ASSERT_EQ(reply.size(), 4u * 37);
    auto frames = Decode(reply);
    ASSERT_EQ(frames.size(), 3u);
    const std::string id = board.Identity();
    EXPECT_EQ(std::string(frames[2].payload.begin(), frames[2].payload.end()), id.substr(48));
    board.SetFault(FaultKind::IdentityTruncated, 1);
    board.ClearFault(FaultKind::IdentityBadCheck);
    line_->Write(Request(0xB6));
    EXPECT_EQ(line_->ReadFor(150ms).size(), 4u * 37 - 2);
}

TEST_F(SimTest, EchoFaults) {
    options_.bootloader = true;
    auto& board = Start(B19200);
    board.SetFault(FaultKind::StrayByte, 0x55);
    EXPECT_EQ(Ask({0x78}, 3), (Bytes{0x55, 0x00, 0x1E}));
    Bytes image(kImageSize, 0);
    image[0] = 0x34;
    image[1] = 0x12;
    image[70] = 0x01;
    board.SetFault(FaultKind::SwappedEcho, 0);
    board.SetFault(FaultKind::WrongEcho, 1);
    board.SetFault(FaultKind::NoEcho, 2);
    EXPECT_EQ(Ask(Block(image, 0), 2), (Bytes{0x00, 0x46}));
    EXPECT_EQ(Ask(Block(image, 1), 2), (Bytes{0x02, 0x00}));
    EXPECT_TRUE(Unanswered(Block(image, 2)));
    EXPECT_EQ(Ask(Block(image, 3), 2), (Bytes{0x00, 0x00}));
    EXPECT_EQ(board.BlocksReceived(), 4u);
}

TEST_F(SimTest, SilentBoardAnswersNothingButTakesWrites) {
    auto& board = Start();
    board.SetSilent(true);
    line_->Write(Request(0xB2, 0x0F));
    EXPECT_TRUE(Unanswered(Request(0xB7)));
    EXPECT_EQ(board.Relays(), 0x0F);
    board.SetSilent(false);
    EXPECT_EQ(Ask(Request(0xB7), 15).size(), 15u);
}

TEST_F(SimTest, BytesForAClosedPortAreLost) {
    auto& board = Start();
    line_->Write(Request(0xB7));  // answered, but the port closes before it is read
    ASSERT_TRUE(board.WaitForSent(15, 1s));
    line_.reset();
    board.SetInputs(0x02);  // while nobody listens
    ASSERT_TRUE(board.WaitForSent(22, 1s));
    const auto log = board.WireLog();
    const auto lastSent = std::find_if(log.rbegin(), log.rend(), [](const WireEvent& e) {
        return e.kind == WireEvent::Kind::Bytes && e.sent;
    });
    ASSERT_NE(lastSent, log.rend());
    EXPECT_FALSE(lastSent->understood);
    line_ = std::make_unique<SlaveLine>(options_.link, B9600);
    EXPECT_TRUE(line_->ReadFor(100ms).empty());
    EXPECT_EQ(Ask(Request(0xB1), 7), EncodeFrame(0xB1, {0x02}));
}

// Opens and closes close together merge in the device's notifications; the one port that is
// held through them still gets every input change.
TEST_F(SimTest, PortHeldThroughAStormOfOpensStillGetsInputChanges) {
    auto& board = Start();
    line_.reset();
    auto storm = [&] {
        for (int i = 0; i < 100; ++i) {
            const int a = ::open(options_.link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const int b = ::open(options_.link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            ::close(b);
            ::close(a);
        }
    };
    std::thread other(storm);
    storm();
    other.join();
    line_ = std::make_unique<SlaveLine>(options_.link, B9600);
    for (uint8_t inputs = 1; inputs <= 5; ++inputs) {
        // Others come together and go one by one while the port is held.
        std::vector<int> others;
        for (int i = 0; i < 10; ++i)
            others.push_back(::open(options_.link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        for (int fd : others) {
            std::this_thread::sleep_for(2ms);  // each close is read on its own
            ::close(fd);
        }
        board.SetInputs(inputs);
        EXPECT_EQ(line_->Read(7, 1s), EncodeFrame(0xB2, {inputs})) << "change " << int(inputs);
    }
}

// A program killed while it held the port in exclusive mode does not keep the next one out.
TEST_F(SimTest, ExclusiveModeEndsWithTheLastProgram) {
    Start();
    line_.reset();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = ::open(options_.link.c_str(), O_RDWR | O_NOCTTY);
        if (fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0) (void)!::write(ready[1], "x", 1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the holder took the port";
    ::close(ready[0]);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    // Root gets through exclusive mode, so the mode itself is read once the port is open.
    int exclusive = 1;
    for (int tries = 0; tries < 250 && exclusive != 0; ++tries) {
        std::this_thread::sleep_for(20ms);
        const int fd = ::open(options_.link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) continue;
        if (::ioctl(fd, TIOCGEXCL, &exclusive) != 0) exclusive = -1;
        ::close(fd);
    }
    EXPECT_EQ(exclusive, 0);
}

// A slow board: nothing comes back before it has worked on the command, and the answers keep
// the order of the commands.
TEST_F(SimTest, ReplyDelayHoldsEveryAnswerBackInOrder) {
    options_.replyDelay = 150ms;
    auto& board = Start();
    const auto asked = std::chrono::steady_clock::now();
    Bytes both = Request(0xB3);
    const Bytes second = Request(0xB1);
    both.insert(both.end(), second.begin(), second.end());
    line_->Write(both);
    EXPECT_TRUE(line_->ReadFor(100ms).empty()) << "answered before the board's work was done";
    const Bytes replies = line_->Read(14, 1s);
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 150ms);
    EXPECT_EQ(replies, [] {
        Bytes b = EncodeFrame(0xB3, {0x05});
        const Bytes c = EncodeFrame(0xB1, {0x81});
        b.insert(b.end(), c.begin(), c.end());
        return b;
    }());

    // Changed at run time, and a reset drops the answer still being worked on.
    board.SetReplyDelay(0ms);
    EXPECT_EQ(Ask(Request(0xB7), 15).size(), 15u);
    board.SetReplyDelay(200ms);
    Bytes resetAfterAsk = Request(0xB7);
    const Bytes reset = Request(0xBA);
    resetAfterAsk.insert(resetAfterAsk.end(), reset.begin(), reset.end());
    line_->Write(resetAfterAsk);
    EXPECT_TRUE(line_->ReadFor(400ms).empty());
    EXPECT_EQ(board.ResetCount(), 1);
}

TEST_F(SimTest, ReplyDelayAlsoHoldsBackProbeAnswersAndEchoes) {
    options_.bootloader = true;
    options_.replyDelay = 120ms;
    Start(B19200);
    line_->Write({0x78});
    EXPECT_TRUE(line_->ReadFor(80ms).empty());
    EXPECT_EQ(line_->Read(2, 1s), (Bytes{0x00, 0x1E}));
    Bytes block(64, 0x02);
    block.push_back(0x80);
    block.push_back(0x00);
    line_->Write(block);
    EXPECT_TRUE(line_->ReadFor(80ms).empty());
    EXPECT_EQ(line_->Read(2, 1s), (Bytes{0x80, 0x00}));
}

// The byte of the answer to 0xB8 is what the program sends back with 0xB7.
TEST_F(SimTest, B8AnswerEchoesOrCarriesTheChosenByte) {
    auto& board = Start();
    EXPECT_EQ(Ask(Request(0xB8, 0x00), 7), EncodeFrame(0xB8, {0x00}));
    EXPECT_EQ(Ask(Request(0xB9, 0x07), 7), EncodeFrame(0xB9, {0x07}));
    board.SetB8Reply(0x5A);
    EXPECT_EQ(Ask(Request(0xB8, 0x00), 7), EncodeFrame(0xB8, {0x5A}));
    EXPECT_EQ(Ask(Request(0xB9, 0x07), 7), EncodeFrame(0xB9, {0x07})) << "0xB9 still echoes";
    board.SetB8Reply(std::nullopt);
    EXPECT_EQ(Ask(Request(0xB8, 0x33), 7), EncodeFrame(0xB8, {0x33}));
}

// The record shows when the program opened and closed its side and when each frame came.
TEST_F(SimTest, RecordTimesOpensClosesAndFrames) {
    auto& board = Start();
    std::this_thread::sleep_for(30ms);
    line_->Write(Request(0xB1, 0x42));
    ASSERT_TRUE(board.WaitForSent(7, 1s));
    line_.reset();
    const auto until = std::chrono::steady_clock::now() + 5s;  // a loaded machine is slow
    auto closed = [&] {
        for (const auto& e : board.WireLog())
            if (e.kind == WireEvent::Kind::Closed) return true;
        return false;
    };
    while (!closed() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(2ms);

    std::vector<WireEvent::Kind> kinds;
    for (const auto& e : board.WireLog()) kinds.push_back(e.kind);
    using K = WireEvent::Kind;
    ASSERT_GE(kinds.size(), 4u);
    EXPECT_EQ(kinds.front(), K::Opened);
    EXPECT_EQ(kinds.back(), K::Closed);
    const auto log = board.WireLog();
    for (size_t i = 1; i < log.size(); ++i) EXPECT_LE(log[i - 1].time, log[i].time);

    const auto frames = board.FramesReceived();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].command, 0xB1);
    EXPECT_EQ(frames[0].payload, Bytes{0x42});
    // The open is timed by the simulator's own thread, which a loaded machine may run late.
    EXPECT_GE(frames[0].time - log.front().time, 10ms) << "the frame came 30 ms after the open";
}

TEST_F(SimTest, PacingTakesWireTime) {
    options_.pacing = true;
    Start();
    const auto start = std::chrono::steady_clock::now();
    auto reply = Ask(Request(0xB6), 4 * 37);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(reply.size(), 4u * 37);
    // 148 bytes of 10 bit times at 9600 Bd: 154 ms on the wire.
    EXPECT_GE(took, std::chrono::microseconds(148 * 10 * 1000000 / 9600 * 8 / 10));
}

TEST_F(SimTest, SeveralBoardsAtOnceAndStopNeverHangs) {
    BoardOptions slow = options_;
    slow.link = dir_ + "/com1";
    slow.baud = 300;
    slow.pacing = true;
    BoardSimulator other(slow);
    other.Start();
    Start();
    SlaveLine com1(slow.link, B300);
    com1.Write(Request(0xB6));  // about 5 s of reply at 300 Bd
    ASSERT_TRUE(other.WaitForReceived(7, 1s));
    EXPECT_EQ(Ask(Request(0xB7), 15).size(), 15u);  // the other board is not held up
    const auto start = std::chrono::steady_clock::now();
    other.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(slow.link)));
}

}  // namespace
}  // namespace swb808::sim
