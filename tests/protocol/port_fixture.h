#pragma once

// A real port object on the slave side of a pseudo-terminal, reached as COM1 through
// SWB808_PORT_DIR; the test plays the board on the master side.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "protocol/swb808_protocol.h"
#include "serial/serial_port.h"
#include "sim/pseudo_terminal.h"

namespace swb808::testing {

class PortFixture : public ::testing::Test {
  protected:
    static constexpr int kCom = 1;

    void SetUp() override {
        char tmpl[] = "/tmp/swb808-proto-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ::setenv("SWB808_PORT_DIR", tmpl, 1);
        pty_ = std::make_unique<sim::PseudoTerminal>();
        pty_->LinkAs((dir_ / ("com" + std::to_string(kCom))).string());
    }

    void TearDown() override {
        if (port_.Open()) port_.SetOpen(false);
        pty_.reset();
        ::unsetenv("SWB808_PORT_DIR");
        std::filesystem::remove_all(dir_);
    }

    void OpenAt(int32_t baud) {
        port_.SetComNumber(kCom);
        port_.SetBaud(baud);
        port_.SetOpen(true);
        ASSERT_TRUE(port_.Open());
    }

    // Waits (without pumping) until exactly `n` bytes are waiting; false after `timeout`.
    bool WaitForInput(uint16_t n, std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (port_.InputCount() != n) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    std::filesystem::path dir_;
    std::unique_ptr<sim::PseudoTerminal> pty_;
    TSerialPort port_;
    TSWB808Protocol proto_{port_};
};

}  // namespace swb808::testing
