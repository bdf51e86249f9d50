#pragma once

// A firmware transfer the API started: GET /api/v1/jobs/{id} shows how far it is.
// Threads: the board's thread updates it, any thread reads it.

#include <QJsonObject>

#include <mutex>
#include <string>

namespace swb808::service {

class FlashJob {
  public:
    FlashJob(std::string id, std::string board, std::string oldVersion, std::string newVersion,
             bool bootloader);

    const std::string& Id() const { return id_; }
    const std::string& Board() const { return board_; }

    void Progress(int done, int count);
    // `failure` empty: the image is on the board.
    void Finish(const std::string& failure);
    // The version the board reports when it was found again.
    void Running(const std::string& version);
    bool Finished() const;
    QJsonObject Json() const;

  private:
    const std::string id_, board_;
    mutable std::mutex mutex_;
    std::string oldVersion_, newVersion_, running_;
    bool bootloader_;
    int done_ = 0, count_ = 96;
    std::string result_ = "running";  // "running", "complete", "failed"
    std::string message_;
};

}  // namespace swb808::service
