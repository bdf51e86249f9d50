// Events and errors as the JSON front ends show them.

#include "frontend/board_event_json.h"

#include <gtest/gtest.h>

#include <QJsonArray>

namespace swb808 {
namespace {

TEST(BoardEventJson, CarriesTheKindsValuesAndTheTimeInUtc) {
    BoardEvent e;
    e.seq = 7;
    e.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1767323045678));
    e.kind = BoardEventKind::InputChange;
    e.board = "SWB808 S/N 4711";
    e.port = PortRef::Device("/dev/ttyUSB0");
    e.baud = 19200;
    e.inputs = 0x81;
    e.relays = 0x0F;
    const QJsonObject o = EventJson(e);
    EXPECT_EQ(o["seq"].toInteger(), 7);
    EXPECT_EQ(o["time"].toString(), "2026-01-02T03:04:05.678Z");
    EXPECT_EQ(o["kind"].toString(), "input_change");
    EXPECT_EQ(o["port"].toString(), "/dev/ttyUSB0");
    EXPECT_EQ(o["inputs"].toInt(), 0x81);
    EXPECT_EQ(o["inputs_on"].toArray(), (QJsonArray{1, 8}));
    EXPECT_FALSE(o.contains("relays"));  // only the kind's values

    e.kind = BoardEventKind::FlashResult;
    e.blocksDone = 12;
    e.blockCount = 96;
    e.message = "Keine Rückmeldung beim Programmieren, Abbruch!";
    const QJsonObject f = EventJson(e);
    EXPECT_EQ(f["kind"].toString(), "flash_result");
    EXPECT_EQ(f["blocks_done"].toInt(), 12);
    EXPECT_EQ(f["message"].toString(),
              QString::fromUtf8("Keine Rückmeldung beim Programmieren, Abbruch!"));

    const QJsonObject err = ErrorJson(BoardError{BoardErrc::PortInUse, "COM3 is in use"});
    EXPECT_EQ(err["error"].toString(), "port_in_use");
    EXPECT_EQ(err["message"].toString(), "COM3 is in use");
}

}  // namespace
}  // namespace swb808
