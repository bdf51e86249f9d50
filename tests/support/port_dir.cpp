#include "tests/support/port_dir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace swb808::test {

TempPortDir::TempPortDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "swb808-ports-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (const char* old = std::getenv("SWB808_PORT_DIR")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    ::setenv("SWB808_PORT_DIR", path_.c_str(), 1);
    std::filesystem::create_directory(LockDir());
    if (const char* old = std::getenv("SWB808_LOCK_DIR")) {
        previousLocks_ = old;
        hadPreviousLocks_ = true;
    }
    ::setenv("SWB808_LOCK_DIR", LockDir().c_str(), 1);
}

TempPortDir::~TempPortDir() {
    if (hadPrevious_)
        ::setenv("SWB808_PORT_DIR", previous_.c_str(), 1);
    else
        ::unsetenv("SWB808_PORT_DIR");
    if (hadPreviousLocks_)
        ::setenv("SWB808_LOCK_DIR", previousLocks_.c_str(), 1);
    else
        ::unsetenv("SWB808_LOCK_DIR");
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace swb808::test
