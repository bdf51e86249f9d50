#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "serial/lock_file.h"
#include "serial/serial_port.h"
#include "sim/pseudo_terminal.h"
#include "tests/support/port_dir.h"

namespace swb808 {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// Polls `done` until it holds or `timeout` passes; true when it held.
template <class F>
bool waitFor(F done, std::chrono::milliseconds timeout = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_.Link(pty_, 3);
        port_.SetComNumber(3);
        port_.SetBaud(115200);
    }

    test::TempPortDir dir_;
    sim::PseudoTerminal pty_;
    TSerialPort port_;
};

TEST(SerialPortClosed, DefaultsAndOperations) {
    TSerialPort port;
    EXPECT_EQ(port.ComNumber(), 0);
    EXPECT_EQ(port.Baud(), 19200);
    EXPECT_EQ(port.Parity(), pNone);
    EXPECT_EQ(port.DataBits(), 8);
    EXPECT_EQ(port.StopBits(), 1);
    EXPECT_EQ(port.InSize(), 4096);
    EXPECT_EQ(port.OutSize(), 4096);
    EXPECT_TRUE(port.DTR());
    EXPECT_TRUE(port.RTS());
    EXPECT_EQ(port.AvailThreshold(), 1);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.PortPhase(), Closed);

    EXPECT_EQ(port.InputCount(), 0);
    EXPECT_EQ(port.OutputFree(), 4096);
    try {
        port.ReadByte();
        FAIL();
    } catch (const ECommNotOpen& e) {
        EXPECT_STREQ(e.what(), "ie_NOpen - device not open");
        EXPECT_EQ(e.ErrorCode, -2007);
    }
    uint8_t b[4] = {};
    EXPECT_THROW(port.ReadBlock(b, 4), ECommNotOpen);
    EXPECT_THROW(port.WriteBlock(b, 4), ECommNotOpen);
    EXPECT_THROW(port.WriteByte(1), ECommNotOpen);
    EXPECT_THROW(port.AddTriggerString("x", false), ECommNotOpen);
    EXPECT_THROW(port.SetOpen(true), ENoPortSelected);
    EXPECT_EQ(port.PortPhase(), Closed);

    // The program's close: discard, then close, inside one guard that swallows everything.
    try {
        port.DiscardOutput();
        port.SetOpen(false);
    } catch (...) {
    }
    EXPECT_FALSE(port.Open());
}

TEST_F(SerialPortTest, OpensAtEveryRateAndTheLineTakesIt) {
    for (int32_t rate : {300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 76800,
                         115200, 230400}) {
        port_.SetBaud(rate);
        port_.SetOpen(true);
        EXPECT_TRUE(port_.Open());
        EXPECT_EQ(port_.PortPhase(), Opened);
        EXPECT_EQ(pty_.LineRate(), static_cast<unsigned>(rate));
        port_.SetOpen(false);
        EXPECT_FALSE(port_.Open());
        EXPECT_EQ(port_.PortPhase(), Closed);
    }
}

TEST_F(SerialPortTest, DeviceHeldElsewhereIsAlreadyOpenButAvailable) {
    const int other = ::open(dir_.ComPath(3).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    try {
        port_.SetOpen(true);
        FAIL();
    } catch (const EAlreadyOpen& e) {
        EXPECT_EQ(e.ErrorCode, -2008);
        EXPECT_STREQ(e.what(), "ie_Open - device already open");
    }
    EXPECT_FALSE(port_.Open());
    EXPECT_EQ(port_.PortPhase(), Closed);
    EXPECT_TRUE(PortAvailable(3));
    ::close(other);

    // Our own open port counts as available, and is held against others.
    port_.SetOpen(true);
    EXPECT_TRUE(PortAvailable(3));
    TSerialPort second;
    second.SetComNumber(3);
    EXPECT_THROW(second.SetOpen(true), EAlreadyOpen);
    port_.SetOpen(false);
}

// Another program holding the line with TIOCEXCL alone (root gets through that) or by a lock
// file: the probe and the open leave its line as they found it.
class ForeignHolderTest : public SerialPortTest {
  protected:
    // "LCK..pts_N" for the pseudo-terminal's /dev/pts/N.
    std::string LockFile() const {
        std::string name = pty_.SlavePath().substr(std::string("/dev/").size());
        std::replace(name.begin(), name.end(), '/', '_');
        return dir_.LockDir() + "/LCK.." + name;
    }
    std::string ReadLockFile() const {
        std::ifstream in(LockFile(), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    void WriteLockFile(const std::string& content) const {
        std::ofstream(LockFile(), std::ios::binary) << content;
    }
    static std::string AsciiPid(pid_t pid) {
        char text[16];
        std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
        return text;
    }
    static pid_t DeadPid() {
        const pid_t child = ::fork();
        if (child == 0) ::_exit(0);
        ::waitpid(child, nullptr, 0);
        return child;
    }
};

TEST_F(ForeignHolderTest, ExclusiveModeAloneMeansAlreadyOpenAndStaysSet) {
    const int foreign = ::open(dir_.ComPath(3).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(foreign, 0);
    ASSERT_EQ(::ioctl(foreign, TIOCEXCL), 0);
    const Bytes queued = {0x31, 0x32, 0x33, 0x34};  // the holder's output, not yet read
    ASSERT_EQ(::write(foreign, queued.data(), queued.size()), 4);

    EXPECT_TRUE(PortAvailable(3));
    EXPECT_THROW(port_.SetOpen(true), EAlreadyOpen);
    EXPECT_FALSE(port_.Open());
    EXPECT_TRUE(PortAvailable(3));

    int exclusive = 0;
    ASSERT_EQ(::ioctl(foreign, TIOCGEXCL, &exclusive), 0);
    EXPECT_NE(exclusive, 0) << "the holder's exclusive mode was cleared";
    EXPECT_EQ(pty_.ReadExactly(queued.size(), 2s), queued) << "the holder's output was flushed";
    ::ioctl(foreign, TIOCNXCL);
    ::close(foreign);

    // Once it lets go, the port opens.
    port_.SetOpen(true);
    EXPECT_TRUE(port_.Open());
}

TEST_F(ForeignHolderTest, LiveLockFileMeansAlreadyOpenAndAStaleOneDoesNot) {
    const int binaryLive = 1;  // init: always there
    const int binaryDead = static_cast<int>(DeadPid());
    const struct {
        const char* what;
        std::string content;
        bool held;
        std::chrono::seconds age = 0s;
    } cases[] = {
        {"ASCII PID, live", AsciiPid(::getppid()), true},
        {"binary PID, live", std::string(reinterpret_cast<const char*>(&binaryLive), 4), true},
        {"ASCII PID, process gone", AsciiPid(DeadPid()), false},
        {"binary PID, process gone", std::string(reinterpret_cast<const char*>(&binaryDead), 4),
         false},
        {"a number past the PID range", "4294967297\n", false},  // not PID 1
        {"empty, being written", "", true},
        {"empty, two seconds old", "", false, 2s},
    };
    for (const auto& c : cases) {
        WriteLockFile(c.content);
        std::filesystem::last_write_time(LockFile(),
                                         std::filesystem::file_time_type::clock::now() - c.age);
        EXPECT_TRUE(PortAvailable(3)) << c.what;
        if (c.held) {
            EXPECT_THROW(port_.SetOpen(true), EAlreadyOpen) << c.what;
            EXPECT_FALSE(port_.Open()) << c.what;
            EXPECT_TRUE(std::filesystem::exists(LockFile())) << c.what;
        } else {
            port_.SetOpen(true);
            EXPECT_TRUE(port_.Open()) << c.what;
            port_.SetOpen(false);
        }
        std::filesystem::remove(LockFile());
    }
}

TEST_F(ForeignHolderTest, OpenPortKeepsItsOwnLockFileUntilClosed) {
    const mode_t umask = ::umask(077);
    port_.SetOpen(true);
    ::umask(umask);
    EXPECT_EQ(ReadLockFile(), AsciiPid(::getpid()));
    struct stat st {};
    ASSERT_EQ(::stat(LockFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << "others must be able to read the owner";
    EXPECT_TRUE(PortAvailable(3));
    TSerialPort second;
    second.SetComNumber(3);
    EXPECT_THROW(second.SetOpen(true), EAlreadyOpen);
    port_.SetOpen(false);
    EXPECT_FALSE(std::filesystem::exists(LockFile()));

    // A lock directory that cannot take the file is no reason to fail the open.
    ::setenv("SWB808_LOCK_DIR", (dir_.Path() + "/missing").c_str(), 1);
    port_.SetOpen(true);
    EXPECT_TRUE(port_.Open());
    port_.SetOpen(false);
    ::setenv("SWB808_LOCK_DIR", dir_.LockDir().c_str(), 1);
}

// Someone else's lock file, whether it was there at our check or made just after it, is
// neither taken over nor removed.
TEST_F(ForeignHolderTest, AForeignLockFileIsNeverTakenOverOrRemoved) {
    const std::string foreign = AsciiPid(::getppid());
    WriteLockFile(foreign);
    const posix::CreatedLock lock = posix::CreateLockFile(pty_.SlavePath());
    EXPECT_TRUE(lock.inUse);
    EXPECT_EQ(lock.path, "");
    EXPECT_EQ(ReadLockFile(), foreign);

    // Taken over while our port was open (after judging ours stale): closing leaves it.
    std::filesystem::remove(LockFile());
    port_.SetOpen(true);
    WriteLockFile(foreign);
    port_.SetOpen(false);
    EXPECT_EQ(ReadLockFile(), foreign);
}

TEST_F(SerialPortTest, MissingPortIsBadIdAndUnavailable) {
    port_.SetComNumber(9);
    try {
        port_.SetOpen(true);
        FAIL();
    } catch (const EBadId& e) {
        EXPECT_EQ(e.ErrorCode, -2001);
    }
    EXPECT_FALSE(port_.Open());
    EXPECT_FALSE(PortAvailable(9));
    EXPECT_TRUE(PortAvailable(3));
    EXPECT_FALSE(PortAvailable(0));
}

TEST_F(SerialPortTest, BytesFlowBothWays) {
    port_.SetOpen(true);
    const Bytes out = {0xC1, 0xB1, 0xE0, 0xA0, 0xDF};
    port_.WriteBlock(out.data(), static_cast<uint16_t>(out.size()));
    EXPECT_EQ(pty_.ReadExactly(out.size(), 3s), out);
    ASSERT_TRUE(waitFor([&] { return port_.OutputFree() == 4096; }));

    const Bytes in = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(pty_.Write(in));
    ASSERT_TRUE(waitFor([&] { return port_.InputCount() == in.size(); }));
    EXPECT_EQ(port_.ReadByte(), 1);
    Bytes rest(5);
    port_.ReadBlock(rest.data(), 5);
    EXPECT_EQ(rest, Bytes({2, 3, 4, 5, 6}));
    EXPECT_EQ(port_.InputCount(), 0);
    port_.ReadBlock(rest.data(), 0);  // nothing asked, nothing done
}

// More than the device holds can only be written while the port takes bytes in by itself;
// a full ring then leaves the rest in the device until reads make room, across the wrap.
TEST_F(SerialPortTest, RingFillsWithoutTheCallerAndKeepsTheStreamWhole) {
    port_.SetOpen(true);
    Bytes stream(24000);
    for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<uint8_t>(i * 7 % 251);
    // The other side writes all of it, waiting for room; how much the kernel holds beyond the
    // ring varies, so only the full ring is asserted before the caller reads. A pty master is
    // not always woken when room comes back, so it looks again every 1 ms.
    std::atomic<size_t> written{0};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (written < stream.size() && !stop && std::chrono::steady_clock::now() < deadline) {
            const ssize_t r = ::write(pty_.MasterFd(), stream.data() + written.load(),
                                      stream.size() - written.load());
            if (r > 0) {
                written += static_cast<size_t>(r);
                continue;
            }
            pollfd p{pty_.MasterFd(), POLLOUT, 0};
            ::poll(&p, 1, 1);
        }
    });
    const bool full = waitFor([&] { return port_.InputCount() == 8192; });
    EXPECT_TRUE(full) << "the port took no bytes in by itself";
    Bytes got;
    while (full && got.size() < stream.size()) {
        uint16_t n = 0;
        if (!waitFor([&] { return (n = port_.InputCount()) > 0; })) break;
        n = static_cast<uint16_t>(std::min<size_t>({n, 3001, stream.size() - got.size()}));
        got.resize(got.size() + n);
        port_.ReadBlock(got.data() + got.size() - n, n);
    }
    stop = true;
    writer.join();
    EXPECT_TRUE(got == stream) << got.size() << " bytes read";
}

TEST_F(SerialPortTest, ReadsAndWritesBeyondTheCountsMoveNothing) {
    port_.SetOpen(true);
    ASSERT_TRUE(pty_.Write({7, 8, 9}));
    ASSERT_TRUE(waitFor([&] { return port_.InputCount() == 3; }));
    uint8_t buf[8] = {};
    try {
        port_.ReadBlock(buf, 7);
        FAIL();
    } catch (const EBufferIsEmpty& e) {
        EXPECT_STREQ(e.what(), "Buffer is empty");
    }
    EXPECT_EQ(port_.InputCount(), 3);
    port_.ReadBlock(buf, 3);
    EXPECT_EQ(Bytes(buf, buf + 3), Bytes({7, 8, 9}));
    EXPECT_THROW(port_.ReadByte(), EBufferIsEmpty);

    Bytes big(4097, 0x55);
    EXPECT_THROW(port_.WriteBlock(big.data(), 4097), EOutputBufferTooSmall);
    EXPECT_EQ(port_.OutputFree(), 4096);
    EXPECT_TRUE(pty_.Read(100ms).empty());
    port_.WriteBlock(big.data(), 4096);
    EXPECT_EQ(pty_.ReadExactly(4096, 5s).size(), 4096u);
    ASSERT_TRUE(waitFor([&] { return port_.OutputFree() == 4096; }));
}

TEST_F(SerialPortTest, OutputFreeIsFullAgainAfterTheRingWrapped) {
    port_.SetOpen(true);
    Bytes sent;
    for (int round = 0; round < 4; ++round) {
        Bytes chunk(3000);
        std::iota(chunk.begin(), chunk.end(), static_cast<uint8_t>(round * 31));
        port_.WriteBlock(chunk.data(), static_cast<uint16_t>(chunk.size()));
        EXPECT_EQ(pty_.ReadExactly(chunk.size(), 5s), chunk) << round;
        ASSERT_TRUE(waitFor([&] { return port_.OutputFree() == 4096; })) << round;
        EXPECT_EQ(port_.OutputFree(), 4096);
    }
    // Single bytes across the wrap point as well.
    for (int i = 0; i < 1500; ++i) port_.WriteByte(static_cast<uint8_t>(i));
    EXPECT_EQ(pty_.ReadExactly(1500, 5s).size(), 1500u);
    ASSERT_TRUE(waitFor([&] { return port_.OutputFree() == 4096; }));
}

TEST_F(SerialPortTest, DiscardThenCloseInOneGuardLeavesAClosedPort) {
    port_.SetOpen(true);
    Bytes data(2000, 0x33);
    port_.WriteBlock(data.data(), 2000);
    try {
        port_.DiscardOutput();
        port_.SetOpen(false);
    } catch (...) {
        FAIL() << "the close raised";
    }
    EXPECT_FALSE(port_.Open());
    EXPECT_EQ(port_.PortPhase(), Closed);
    EXPECT_EQ(port_.OutputFree(), 4096);
    // And it opens again cleanly.
    port_.SetOpen(true);
    EXPECT_EQ(port_.InputCount(), 0);
    port_.SetOpen(false);
}

TEST_F(SerialPortTest, CloseDoesNotWaitForOutputTheLineCannotTake) {
    port_.SetOpen(true);
    // Nobody reads the master: fill the line until the output stops draining.
    Bytes data(4096, 0x77);
    for (int i = 0; i < 200 && port_.OutputFree() == 4096; ++i) {
        port_.WriteBlock(data.data(), 4096);
        waitFor([&] { return port_.OutputFree() == 4096; }, 50ms);
    }
    EXPECT_LT(port_.OutputFree(), 4096);
    const auto start = std::chrono::steady_clock::now();
    port_.SetOpen(false);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(port_.OutputFree(), 4096);
}

// Blocks written while earlier ones still wait for the line go out behind them, each byte
// once, also when the first went to the device only in part.
TEST_F(SerialPortTest, OutputStaysInOrderWhenTheLineBacksUp) {
    port_.SetOpen(true);
    Bytes sent;
    Bytes block(1500);
    // Nobody reads the master yet, so the line fills up and blocks start to queue.
    for (int stalls = 0; stalls < 20 && sent.size() < 400000;) {
        if (port_.OutputFree() < block.size()) {
            ++stalls;
            std::this_thread::sleep_for(10ms);
            continue;
        }
        for (auto& b : block) b = static_cast<uint8_t>(sent.size() % 251 + (&b - block.data()) / 7);
        port_.WriteBlock(block.data(), static_cast<uint16_t>(block.size()));
        sent.insert(sent.end(), block.begin(), block.end());
    }
    ASSERT_LT(port_.OutputFree(), 4096) << "the line never backed up";
    EXPECT_EQ(pty_.ReadExactly(sent.size(), 10s), sent);
    EXPECT_TRUE(waitFor([&] { return port_.OutputFree() == 4096; }));
    EXPECT_TRUE(pty_.Read(100ms).empty());
}

// Once OutputFree() is back at 4096 the bytes count as sent: a discard or a close must not
// take them back from a peer that has not read them yet.
TEST_F(SerialPortTest, DiscardAfterTheOutputDrainedDropsNothingSent) {
    port_.SetOpen(true);
    const Bytes frame = {0xC1, 0xBA, 0xE1, 0x50, 0x50, 0xA0, 0xDF};
    port_.WriteBlock(frame.data(), static_cast<uint16_t>(frame.size()));
    ASSERT_TRUE(waitFor([&] { return port_.OutputFree() == 4096; }));
    port_.DiscardOutput();
    port_.SetOpen(false);
    EXPECT_EQ(pty_.ReadExactly(frame.size(), 2s), frame);
}

// Output the line has not taken yet (nobody reads the master) is discarded: none of it, and
// nothing written after the discard, reaches the line twice.
TEST_F(SerialPortTest, DiscardWithOutputBackedUpSendsNothingTwice) {
    port_.SetOpen(true);
    const Bytes marker = {0xFB, 0xFC, 0xFD, 0xFE, 0xFF};  // never part of the pattern below
    for (int round = 0; round < 6; ++round) {
        // Byte n of the stream is n % 251, so a repeated piece breaks the sequence.
        Bytes stream;
        auto stalledSince = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - stalledSince < 100ms) {
            const uint16_t free = port_.OutputFree();
            if (free < 512) {
                std::this_thread::sleep_for(2ms);
                continue;
            }
            Bytes block(std::min<uint16_t>(free, 1500));
            for (auto& b : block)
                b = static_cast<uint8_t>(stream.size() % 251), stream.push_back(b);
            port_.WriteBlock(block.data(), static_cast<uint16_t>(block.size()));
            stalledSince = std::chrono::steady_clock::now();
        }
        ASSERT_LT(port_.OutputFree(), 4096) << "the line never backed up, round " << round;
        port_.DiscardOutput();
        EXPECT_EQ(port_.OutputFree(), 4096) << round;
        port_.WriteBlock(marker.data(), static_cast<uint16_t>(marker.size()));

        Bytes line;
        for (Bytes piece; !(piece = pty_.Read(300ms, 65536)).empty();)
            line.insert(line.end(), piece.begin(), piece.end());
        ASSERT_GE(line.size(), marker.size()) << round;
        const Bytes before(line.begin(), line.end() - static_cast<long>(marker.size()));
        EXPECT_EQ(Bytes(line.end() - static_cast<long>(marker.size()), line.end()), marker)
            << round;
        ASSERT_LE(before.size(), stream.size()) << round;
        EXPECT_TRUE(std::equal(before.begin(), before.end(), stream.begin()))
            << "round " << round << ": what came before the marker is not a prefix of what was "
            << "written";
        EXPECT_EQ(std::search(before.begin(), before.end(), marker.begin(), marker.end()),
                  before.end())
            << round;
        EXPECT_TRUE(waitFor([&] { return port_.OutputFree() == 4096; })) << round;
    }
}

TEST_F(SerialPortTest, VanishedDeviceLeavesNoThreadSpinning) {
    port_.SetOpen(true);
    ASSERT_TRUE(pty_.Write({1, 2}));
    ASSERT_TRUE(waitFor([&] { return port_.InputCount() == 2; }));
    EXPECT_FALSE(port_.LineLost());
    pty_.Close();  // the adapter is pulled out
    ASSERT_TRUE(waitFor([&] { return port_.LineLost(); }));
    std::this_thread::sleep_for(100ms);

    const double cpu0 = processCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(500ms);
    const double cpu = processCpuSeconds() - cpu0;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    EXPECT_LT(cpu, 0.2 * wall) << "threads kept running after the device vanished";

    EXPECT_FALSE(port_.LineLostText().empty());
    // Output to the dead line is dropped, so the program's drain waits end.
    const uint8_t b = 0x42;
    port_.WriteBlock(&b, 1);
    EXPECT_TRUE(waitFor([&] { return port_.OutputFree() == 4096; }));
    EXPECT_EQ(port_.InputCount(), 2);  // what arrived before stays readable
    port_.SetOpen(false);
    EXPECT_FALSE(port_.Open());
    EXPECT_TRUE(port_.LineLost());  // still known after the close
    EXPECT_THROW(port_.SetOpen(true), EBadId);
}

TEST_F(SerialPortTest, BaudChangeOnTheOpenPortReprogramsTheLine) {
    port_.SetBaud(9600);
    port_.SetOpen(true);
    EXPECT_EQ(pty_.LineRate(), 9600u);
    const uint32_t writes = port_.LineSettingsWrites();
    port_.SetBaud(9600);
    EXPECT_EQ(port_.LineSettingsWrites(), writes);
    port_.SetBaud(57600);
    EXPECT_EQ(pty_.LineRate(), 57600u);
    EXPECT_EQ(port_.LineSettingsWrites(), writes + 1);
    EXPECT_EQ(port_.Baud(), 57600);
    port_.SetOpen(false);
}

TEST_F(SerialPortTest, RateChangeSettlesEighteenCharactersAtTheOldRate) {
    port_.SetBaud(300);
    port_.SetOpen(true);
    auto start = std::chrono::steady_clock::now();
    port_.SetBaud(600);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 595ms);
    EXPECT_EQ(pty_.LineRate(), 600u);
    port_.SetBaud(9600);  // 18 characters at 600 Bd: 300 ms
    start = std::chrono::steady_clock::now();
    port_.SetBaud(19200);  // 18 characters at 9600 Bd: 19 ms
    EXPECT_GE(std::chrono::steady_clock::now() - start, 18ms);
    port_.SetOpen(false);
}

TEST_F(SerialPortTest, ComNumberChangeReopensOnTheNewDevice) {
    sim::PseudoTerminal other;
    dir_.Link(other, 4);
    port_.SetOpen(true);
    port_.SetComNumber(3);  // unchanged: nothing happens
    EXPECT_TRUE(port_.Open());
    port_.SetComNumber(4);
    EXPECT_TRUE(port_.Open());
    EXPECT_EQ(port_.ComNumber(), 4);
    EXPECT_EQ(other.LineRate(), 115200u);
    port_.WriteByte(0xDF);
    EXPECT_EQ(other.ReadExactly(1, 3s), Bytes({0xDF}));
    EXPECT_TRUE(pty_.Read(50ms).empty());
    // The first device is free again.
    TSerialPort second;
    second.SetComNumber(3);
    second.SetOpen(true);
    second.SetOpen(false);
    // An open failure leaves the port closed with the new number.
    EXPECT_THROW(port_.SetComNumber(9), EBadId);
    EXPECT_FALSE(port_.Open());
    EXPECT_EQ(port_.ComNumber(), 9);
}

TEST_F(SerialPortTest, OpenStartsWithAnEmptyInput) {
    // Bytes sent while nobody had the port open are not taken for a reply.
    ASSERT_TRUE(pty_.Write({0xAA, 0xBB}));
    std::this_thread::sleep_for(20ms);
    port_.SetOpen(true);
    std::this_thread::sleep_for(120ms);
    EXPECT_EQ(port_.InputCount(), 0);
    port_.SetOpen(false);
}

TEST_F(SerialPortTest, DestructionClosesTheDevice) {
    {
        TSerialPort scoped;
        scoped.SetComNumber(3);
        scoped.SetOpen(true);
    }
    port_.SetOpen(true);
    EXPECT_TRUE(port_.Open());
}

}  // namespace
}  // namespace swb808
