#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "port_fixture.h"
#include "sim/board_simulator.h"

namespace swb808 {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using sim::FaultKind;

Bytes Frame(uint8_t command, uint8_t payload) {
    return sim::EncodeFrame(command, {payload});
}

// The board simulator (unpaced) plays the board; the port and the protocol are the program's.
class DeviceQuery : public ::testing::Test {
  protected:
    static constexpr int kCom = 3;

    void SetUp() override {
        char tmpl[] = "/tmp/swb808-query-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ::setenv("SWB808_PORT_DIR", tmpl, 1);
        proto_.SetStatusSink([this](const std::string& s) { status_.push_back(s); });
    }
    void TearDown() override {
        if (port_.Open()) port_.SetOpen(false);
        if (board_) board_->Stop();
        ::unsetenv("SWB808_PORT_DIR");
        std::filesystem::remove_all(dir_);
    }

    void StartBoard(sim::BoardOptions options) {
        options.link = (dir_ / ("com" + std::to_string(kCom))).string();
        options.pacing = false;
        board_ = std::make_unique<sim::BoardSimulator>(options);
        board_->Start();
    }
    void OpenAt(int32_t baud) {
        port_.SetComNumber(kCom);
        port_.SetBaud(baud);
        port_.SetOpen(true);
        ASSERT_TRUE(port_.Open());
    }
    // Records as they were before a failing query.
    void Preset() {
        proto_.RelayState = 0x33;
        proto_.OptoState = 0x44;
        proto_.VccRaw = 1234;
        proto_.DeviceId = "old";
        proto_.DeviceConfig = {1, 2, 3, 4, 5, 6};
        proto_.FirmwareVersion = "9.99x";
    }
    void ExpectPresetKept() {
        EXPECT_EQ(proto_.FirmwareVersion, "");
        EXPECT_EQ(proto_.RelayState, 0x33);
        EXPECT_EQ(proto_.OptoState, 0x44);
        EXPECT_EQ(proto_.VccRaw, 1234);
        EXPECT_EQ(proto_.DeviceId, "old");
        EXPECT_EQ(proto_.DeviceConfig, (std::array<uint8_t, 6>{1, 2, 3, 4, 5, 6}));
        EXPECT_TRUE(status_.empty());
    }
    // The 16-character pieces the board sends for its four identity replies.
    std::string IdentityPiece(int n) const {
        std::string id = board_->Identity();
        id.resize(64, '\0');
        return id.substr(static_cast<size_t>(16 * n), 16);
    }

    std::filesystem::path dir_;
    std::unique_ptr<sim::BoardSimulator> board_;
    TSerialPort port_;
    TSWB808Protocol proto_{port_};
    std::vector<std::string> status_;
};

TEST_F(DeviceQuery, ReadsEveryRecordWithTheExactCommands) {
    sim::BoardOptions o;
    o.baud = 19200;
    o.relays = 0x05;
    o.inputs = 0x81;
    o.vcc = 865;
    o.config = {7, 0x34, 0x12, 0xCD, 0xAB, 0x05};
    o.version = "1.07a";
    StartBoard(o);
    OpenAt(19200);

    ASSERT_TRUE(proto_.readconfig(kCom, 19200));
    EXPECT_EQ(proto_.FirmwareVersion, "1.07a");
    EXPECT_EQ(proto_.RelayState, 0x05);
    EXPECT_EQ(proto_.OptoState, 0x81);
    EXPECT_EQ(proto_.VccRaw, 865);
    EXPECT_EQ(proto_.DeviceConfig, board_->Config());
    EXPECT_EQ(proto_.DeviceId,
              IdentityPiece(0) + IdentityPiece(1) + IdentityPiece(2) + IdentityPiece(3));
    EXPECT_EQ(status_, std::vector<std::string>{"querying COM3 at 19200 Baud..."});

    // The version request carries the first payload byte of whatever the drain read.
    const Bytes replies = board_->SentBytes();
    uint8_t drained = 0;
    if (replies.size() >= 5 && replies[0] == 0xC1 && (replies[1] & 0xF0) == 0xB0 &&
        (replies[2] & 0xF0) == 0xE0)
        drained = static_cast<uint8_t>((replies[3] & 0x0F) | ((replies[4] & 0x0F) << 4));

    Bytes expected;
    for (const Bytes& f :
         {Frame(0xB8, 0x00), Frame(0xB9, 0x07), Frame(0xB7, drained), Frame(0xB3, 0x00),
          Frame(0xB1, 0x00), Frame(0xB6, 0x81), Frame(0xB5, 0x00), Frame(0xBC, 0x00)})
        expected.insert(expected.end(), f.begin(), f.end());
    EXPECT_EQ(board_->ReceivedBytes(), expected);
    EXPECT_EQ(Frame(0xB8, 0), (Bytes{0xC1, 0xB8, 0xE1, 0x50, 0x50, 0xA0, 0xDF}));
    EXPECT_EQ(Frame(0xB9, 7), (Bytes{0xC1, 0xB9, 0xE1, 0x57, 0x50, 0xA7, 0xDF}));
    EXPECT_EQ(Frame(0xB6, 0x81), (Bytes{0xC1, 0xB6, 0xE1, 0x51, 0x58, 0xA9, 0xDF}));
}

TEST_F(DeviceQuery, StaleBytesAreSweptUpByTheDrain) {
    sim::BoardOptions o;
    o.baud = 57600;
    StartBoard(o);
    OpenAt(57600);
    board_->SendGarbage(40);
    ASSERT_TRUE(board_->WaitSendIdle(2s));
    EXPECT_TRUE(proto_.readconfig(kCom, 57600));
    EXPECT_EQ(proto_.FirmwareVersion, board_->Version());
}

TEST_F(DeviceQuery, NoAnswerAtAnotherRate) {
    sim::BoardOptions o;
    o.baud = 9600;
    StartBoard(o);
    OpenAt(38400);
    Preset();
    EXPECT_FALSE(proto_.readconfig(kCom, 38400));
    ExpectPresetKept();
}

TEST_F(DeviceQuery, WrongVersionReplyEndsTheQuery) {
    for (FaultKind fault : {FaultKind::VersionCode6, FaultKind::VersionShort}) {
        SCOPED_TRACE(sim::FaultName(fault));
        sim::BoardOptions o;
        o.baud = 115200;
        StartBoard(o);
        board_->SetFault(fault);
        OpenAt(115200);
        Preset();
        EXPECT_FALSE(proto_.readconfig(kCom, 115200));
        ExpectPresetKept();
        // Nothing is sent after the version request.
        EXPECT_EQ(board_->ReceivedBytes().size(), 3 * 7u);
        port_.SetOpen(false);
        board_->Stop();
    }
}

TEST_F(DeviceQuery, FailedIdentityReplyAddsNothing) {
    sim::BoardOptions o;
    o.baud = 115200;
    StartBoard(o);
    board_->SetFault(FaultKind::IdentityBadCheck, 3);
    OpenAt(115200);
    ASSERT_TRUE(proto_.readconfig(kCom, 115200));
    EXPECT_EQ(proto_.DeviceId.size(), 48u);
    EXPECT_EQ(proto_.DeviceId, IdentityPiece(0) + IdentityPiece(1) + IdentityPiece(3));
}

TEST_F(DeviceQuery, ConfigurationWithWrongCheckByteIsStillTaken) {
    sim::BoardOptions o;
    o.baud = 115200;
    o.config = {12, 9, 0, 3, 0, 0x06};
    StartBoard(o);
    board_->SetFault(FaultKind::BadCheck, 0xB5);
    OpenAt(115200);
    ASSERT_TRUE(proto_.readconfig(kCom, 115200));
    EXPECT_EQ(proto_.DeviceConfig, board_->Config());
    EXPECT_EQ(proto_.DeviceConfig[0], 12);
}

TEST_F(DeviceQuery, TruncatedVoltageReplyLeavesZero) {
    sim::BoardOptions o;
    o.baud = 115200;
    o.vcc = 800;
    StartBoard(o);
    board_->SetFault(FaultKind::Truncated, 0xBC);
    OpenAt(115200);
    proto_.VccRaw = 555;
    ASSERT_TRUE(proto_.readconfig(kCom, 115200));
    EXPECT_EQ(proto_.VccRaw, 0);
}

// A board that answers only the version request: the query still succeeds, and every later
// record takes the zeros its failed receive leaves.
class VersionOnlyBoard : public testing::PortFixture {};

TEST_F(VersionOnlyBoard, LaterRecordsTakeZeros) {
    OpenAt(115200);
    std::thread board([this] {
        const Bytes hello = pty_->ReadExactly(3 * 7, 3s);  // B8, B9, then the version request
        if (hello.size() == 21 && hello[14] == 0xC1 && hello[15] == 0xB7)
            pty_->Write(sim::EncodeFrame(0xB7, {'1', '.', '0', '7', 'a'}));
    });
    proto_.RelayState = 0x33;
    proto_.OptoState = 0x44;
    proto_.VccRaw = 1234;
    proto_.DeviceId = "old";
    proto_.DeviceConfig = {1, 2, 3, 4, 5, 6};
    const bool answered = proto_.readconfig(kCom, 115200);
    board.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(proto_.FirmwareVersion, "1.07a");
    EXPECT_EQ(proto_.RelayState, 0);
    EXPECT_EQ(proto_.OptoState, 0);
    EXPECT_EQ(proto_.VccRaw, 0);
    EXPECT_EQ(proto_.DeviceId, "");
    EXPECT_EQ(proto_.DeviceConfig, (std::array<uint8_t, 6>{}));
    // The identity request carried the (zero) input byte.
    const Bytes rest = pty_->Read(100ms);
    EXPECT_EQ(rest.size(), 5 * 7u);
}

}  // namespace
}  // namespace swb808
