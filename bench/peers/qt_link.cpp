// QSerialPort without an event loop: write, then waitForReadyRead until the bytes are there
// (the wait also pushes out the queued write). Idle runs the event loop with the port open.

#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "bench/peers/peer_link.h"

namespace swb808::bench {

namespace {

int msUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) + 1 : 0;
}

class QtLink : public PeerLink {
  public:
    std::string Name() const override { return "QSerialPort " QT_VERSION_STR; }
    std::string WaitStyle() const override { return "waitForReadyRead"; }
    std::string IdleStyle() const override { return "event loop, readyRead connected"; }

    bool Open(const std::string& device) override {
        port_.setPortName(QString::fromStdString(device));
        port_.setBaudRate(115200);
        port_.setDataBits(QSerialPort::Data8);
        port_.setParity(QSerialPort::NoParity);
        port_.setStopBits(QSerialPort::OneStop);
        port_.setFlowControl(QSerialPort::NoFlowControl);
        if (!port_.open(QIODevice::ReadWrite)) {
            std::fprintf(stderr, "QSerialPort: open: %s\n", qPrintable(port_.errorString()));
            return false;
        }
        return true;
    }
    void Close() override { port_.close(); }

    bool Send(const uint8_t* data, size_t n, Clock::time_point) override {
        return port_.write(reinterpret_cast<const char*>(data), static_cast<qint64>(n)) ==
               static_cast<qint64>(n);
    }

    bool Receive(uint8_t* data, size_t n, Clock::time_point deadline) override {
        size_t got = 0;
        while (got < n) {
            if (port_.bytesAvailable() == 0 && !port_.waitForReadyRead(msUntil(deadline)))
                return false;
            const qint64 r =
                port_.read(reinterpret_cast<char*>(data + got), static_cast<qint64>(n - got));
            if (r < 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }

    void Idle(std::chrono::milliseconds span) override {
        QEventLoop loop;
        QObject::connect(&port_, &QSerialPort::readyRead, &loop, [this] { port_.readAll(); });
        QTimer::singleShot(static_cast<int>(span.count()), &loop, &QEventLoop::quit);
        loop.exec();
        QObject::disconnect(&port_, &QSerialPort::readyRead, &loop, nullptr);
    }

  private:
    QSerialPort port_;
};

}  // namespace

std::unique_ptr<PeerLink> MakeQtLink() {
    return std::make_unique<QtLink>();
}

}  // namespace swb808::bench
