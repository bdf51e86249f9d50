#include <thread>

#include "ui/ansi_text.h"
#include "sim/frame_codec.h"
#include "tests/window/input_burst_fixture.h"
#include "tests/window/window_fixture.h"

namespace swb808::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class InputChange : public WindowTest {
  protected:
    bool OptoLedsShow(uint8_t mask) {
        for (int n = 0; n < 8; ++n)
            if (form().OptoLeds[n]->LedState() != ((mask >> n & 1) ? stOn : stOff)) return false;
        return true;
    }
    // Feeds the board's changes and checks that each is shown as it comes.
    void ExpectInputsFollow(sim::BoardSimulator& board) {
        for (uint8_t inputs : {0x05, 0x81, 0x00, 0xFF, 0x40}) {
            board.SetInputs(inputs);
            EXPECT_TRUE(WaitFor([&] { return OptoLedsShow(inputs); })) << int(inputs);
            EXPECT_EQ(form().Protocol.OptoState, inputs);
        }
    }
};

TEST_F(InputChange, ChangesLightTheInputLedsAsTheyHappen) {
    sim::BoardSimulator& board = Connect();
    ExpectInputsFollow(board);
}

TEST_F(InputChange, ChangesArriveByteByByteAt2400Baud) {
    sim::BoardSimulator& board = Connect(2400, {}, true);
    ExpectInputsFollow(board);
}

TEST_F(InputChange, SecondScanAddsARegistrationAndEachChangeIsStillShownOnce) {
    sim::BoardSimulator& board = Connect();
    Click(form().ScanSpeedButton);  // "Close"
    Scan("COM3", "115200");
    ASSERT_TRUE(form().Connected);
    ExpectInputsFollow(board);
}

// The test plays the board on a bare line, so it can send what a board would not.
class InputFrames : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        line = &AddBareLine(1);
        ASSERT_TRUE(form().OpenSWBPort(1, 115200));
        form().SWBComPort.AddTriggerString(std::string_view("\xC1\xB2\xE1", 3), false);
    }
    bool OptoLedsShow(uint8_t mask) {
        for (int n = 0; n < 8; ++n)
            if (form().OptoLeds[n]->LedState() != ((mask >> n & 1) ? stOn : stOff)) return false;
        return true;
    }
    static Bytes Join(std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    }
    sim::PseudoTerminal* line = nullptr;
};

TEST_F(InputFrames, FramesInOneBurstAreAllReadAndOtherCodesDropped) {
    line->Write(Join({sim::EncodeFrame(0xB2, {0x01}), sim::EncodeFrame(0xB3, {0x7F}),
                      sim::EncodeFrame(0xB2, {0x81})}));
    EXPECT_TRUE(WaitFor([&] { return OptoLedsShow(0x81) && form().SWBComPort.InputCount() == 0; }));
}

TEST_F(InputFrames, AFrameThatStopsHalfWayIsDroppedAndTheNextOneIsRead) {
    form().setoptoleds(0x00);
    line->Write({0xC1, 0xB2, 0xE1, 0x55, 0x50});  // 0x05, cut off before check and end byte
    // The handler gives up after its receive's wait (31 turns of 10 ms) instead of waiting on.
    PacedWait(1000);
    EXPECT_EQ(form().SWBComPort.InputCount(), 0);
    EXPECT_TRUE(OptoLedsShow(0x00));

    line->Write(sim::EncodeFrame(0xB2, {0x06}));
    EXPECT_TRUE(WaitFor([&] { return OptoLedsShow(0x06); }));
}

// Frames keep coming while the handler reads, for longer than one run of it may read: every
// frame is taken, in order, none dropped where a run ends.
TEST_F(InputFrames, AFrameStreamLongerThanOneRunIsTakenWholeAndInOrder) {
    constexpr int kFrames = 300;
    std::vector<int> shown;
    form().setoptoleds(0x00);
    form().OptoLeds[0]->OnAfterChange = [&](LedIndicator&) {
        shown.push_back(form().Protocol.OptoState);
    };
    std::vector<int> sent;
    Bytes stream;
    for (int i = 1; i <= kFrames; ++i) {  // bit 0 changes with every frame
        sent.push_back(i & 0xFF);
        const Bytes frame = sim::EncodeFrame(0xB2, {uint8_t(i)});
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    // In pieces that split the frames, about as fast as 115200 Bd.
    std::thread writer([&] {
        for (size_t at = 0; at < stream.size(); at += 5) {
            line->Write(Bytes(stream.begin() + long(at),
                              stream.begin() + long(std::min(stream.size(), at + 5))));
            std::this_thread::sleep_for(std::chrono::microseconds(430));
        }
    });
    WaitFor([&] { return shown.size() >= size_t(kFrames); }, std::chrono::seconds(10));
    writer.join();
    PacedWait(100);
    form().OptoLeds[0]->OnAfterChange = nullptr;
    EXPECT_EQ(shown, sent);
    EXPECT_EQ(form().SWBComPort.InputCount(), 0);
}

TEST_F(InputChange, AVanishedBoardIsToldOnceInPlainWords) {
    sim::BoardSimulator& board = Connect();
    board.Stop();
    ASSERT_TRUE(WaitFor([&] { return form().ErrorMemo->Lines().size() == 2; }));
    const QString line = form().ErrorMemo->Lines().back();
    EXPECT_EQ(line, QString::fromUtf8("COM3: Verbindung zum Gerät verloren"));
    EXPECT_EQ(form().SWBStatusBar->PanelText(1), line);
    EXPECT_EQ(form().ErrorMemo->FontColor(), clRed);
    PacedWait(1200);
    EXPECT_EQ(form().ErrorMemo->Lines().size(), 2);
}

TEST_F(InputBurst, RunsAt115200BaudEndOnTheirLastValue) {
    ExpectRunsShown(115200, {20, 121, 121, 121, 121, 121, 1000});
}

TEST_F(InputBurst, RunsAt2400BaudEndOnTheirLastValue) {
    ExpectRunsShown(2400, {20, 121});
}

TEST(AnsiText, DecodesWindows1252) {
    struct Case {
        std::string in;
        QString out;
    } cases[] = {
        {"1.07a", "1.07a"},
        {"\x80 \x8A\x9F", QString::fromUtf8("€ ŠŸ")},
        {"\xE4\xF6\xFC\xDF", QString::fromUtf8("äöüß")},
        {"\x81\x8D", QString(QChar(0x81)) + QChar(0x8D)},  // unassigned: passed through
        {std::string("1.0\0"
                     "7",
                     5),
         "1.07"},  // zero bytes add nothing
    };
    for (const Case& c : cases) EXPECT_EQ(AnsiToQString(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace swb808::testing
