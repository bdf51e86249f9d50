// A port that another process takes between two scans: the scan says "already open" in red,
// and once the other process lets go, the next scan opens the port afresh and finds the board.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/faults/fault_fixture.h"

namespace swb808::testing {
namespace {

// Another process holding `path` open and locked, as a terminal program would, until Release.
class Holder {
  public:
    explicit Holder(const std::string& path) {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {  // only plain system calls from here on
            ::close(ready[0]);
            ::close(release[1]);
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
            (void)!::write(ready[1], &ok, 1);
            char c;
            (void)!::read(release[0], &c, 1);  // returns when the parent closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        char ok = 0;
        held_ = ::read(ready[0], &ok, 1) == 1 && ok == 1;
        ::close(ready[0]);
    }
    ~Holder() { Release(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    bool Held() const { return held_; }
    void Release() {
        if (release_ >= 0) ::close(release_);
        release_ = -1;
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool held_ = false;
};

class HeldPort : public FaultTest {};

TEST_F(HeldPort, TakenBetweenScansThenReleasedTheNextScanFindsTheBoard) {
    Scan("COM3", "115200");  // nothing there yet
    EXPECT_EQ(form().SWBStatusBar->PanelText(1), "SWB808 not found");
    EXPECT_TRUE(form().ErrorMemo->Lines().isEmpty());

    AddBoard(Board(115200));
    Holder other(ports.ComPath(3));
    ASSERT_TRUE(other.Held());
    Scan("COM3", "115200");
    EXPECT_EQ(form().ErrorMemo->Lines(),
              QStringList{"COM3: Baud=115200: ie_Open - device already open"});
    EXPECT_EQ(form().ErrorMemo->FontColor(), clRed);
    EXPECT_EQ(form().SWBStatusBar->PanelText(1), "SWB808 not found");
    EXPECT_FALSE(form().SWBComPort.Open());

    other.Release();
    Scan("COM3", "115200");
    EXPECT_TRUE(form().Connected);
    EXPECT_EQ(form().ErrorMemo->Lines().size(), 2);
    EXPECT_EQ(form().ErrorMemo->FontColor(), clBlack);
}

}  // namespace
}  // namespace swb808::testing
