// Runs a fuzz target without libFuzzer (compilers without it): every corpus file once, then
// a bounded number of inputs made by mutating corpus files or drawn at random. It takes the
// libFuzzer options the smoke runs use (-runs, -seed, -max_len, -dict) and ignores the others,
// so one command line serves both builds. A failing input is written to crash-<target>.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const Bytes* gCurrent = nullptr;
std::string gCrashPath;

extern "C" void onFatalSignal(int sig) {
    // Only async-signal-safe calls from here on.
    if (gCurrent && !gCrashPath.empty()) {
        const int fd = ::open(gCrashPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            (void)!::write(fd, gCurrent->data(), gCurrent->size());
            ::close(fd);
            const char note[] = "plain driver: failing input written to ";
            (void)!::write(2, note, sizeof note - 1);
            (void)!::write(2, gCrashPath.data(), gCrashPath.size());
            (void)!::write(2, "\n", 1);
        }
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

Bytes readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// libFuzzer dictionary lines: name="value" or "value", with \\, \" and \xHH escapes.
std::vector<Bytes> readDictionary(const fs::path& p) {
    std::vector<Bytes> tokens;
    std::ifstream in(p);
    for (std::string line; std::getline(in, line);) {
        const auto open = line.find('"');
        const auto close = line.rfind('"');
        if (line.empty() || line[0] == '#' || open == std::string::npos || close <= open) continue;
        Bytes t;
        for (size_t i = open + 1; i < close; ++i) {
            if (line[i] == '\\' && i + 1 < close) {
                if (line[i + 1] == 'x' && i + 3 < close) {
                    t.push_back(
                        static_cast<uint8_t>(std::stoi(line.substr(i + 2, 2), nullptr, 16)));
                    i += 3;
                } else {
                    t.push_back(static_cast<uint8_t>(line[++i]));
                }
            } else {
                t.push_back(static_cast<uint8_t>(line[i]));
            }
        }
        if (!t.empty()) tokens.push_back(t);
    }
    return tokens;
}

class Mutator {
  public:
    Mutator(uint32_t seed, size_t maxLen, std::vector<Bytes> dict)
        : rng_(seed), maxLen_(maxLen), dict_(std::move(dict)) {}

    Bytes Random() {
        // Mostly short inputs; now and then up to the limit.
        const size_t len = below(4) ? below(maxLen_ + 1) : below(std::min<size_t>(maxLen_, 64) + 1);
        Bytes b(len);
        for (auto& x : b) x = static_cast<uint8_t>(rng_());
        return b;
    }

    Bytes Mutate(Bytes b) {
        const size_t count = 1 + below(4);
        for (size_t k = 0; k < count; ++k) mutateOnce(b);
        if (b.size() > maxLen_) b.resize(maxLen_);
        return b;
    }

    size_t below(size_t n) { return n == 0 ? 0 : rng_() % n; }

  private:
    void mutateOnce(Bytes& b) {
        // The first five keep the size, which matters to inputs of a fixed length.
        switch (below(b.empty() ? 1 : 9)) {
            case 0:
                if (b.empty()) {
                    b.push_back(static_cast<uint8_t>(rng_()));
                    return;
                }
                b[below(b.size())] ^= static_cast<uint8_t>(1u << below(8));
                return;
            case 1:
                b[below(b.size())] = static_cast<uint8_t>(rng_());
                return;
            case 2: {
                static constexpr uint8_t kInteresting[] = {0x00, 0x01, 0x0F, 0x10,
                                                           0x7F, 0x80, 0xFF};
                b[below(b.size())] = kInteresting[below(sizeof kInteresting)];
                return;
            }
            case 3:
                b[below(b.size())] = b[below(b.size())];
                return;
            case 4:
                if (!dict_.empty()) {
                    const Bytes& t = dict_[below(dict_.size())];
                    if (t.size() <= b.size()) {
                        std::copy(t.begin(), t.end(), b.begin() + below(b.size() - t.size() + 1));
                        return;
                    }
                }
                std::swap(b[below(b.size())], b[below(b.size())]);
                return;
            case 5:
                b.insert(b.begin() + below(b.size() + 1), static_cast<uint8_t>(rng_()));
                return;
            case 6:
                b.erase(b.begin() + below(b.size()));
                return;
            case 7: {
                const size_t from = below(b.size());
                const size_t len = 1 + below(std::min<size_t>(b.size() - from, 32));
                const Bytes chunk(b.begin() + from, b.begin() + from + len);
                b.insert(b.begin() + below(b.size() + 1), chunk.begin(), chunk.end());
                return;
            }
            default:
                b.resize(below(b.size() + 1));
                return;
        }
    }

    std::mt19937 rng_;
    size_t maxLen_;
    std::vector<Bytes> dict_;
};

}  // namespace

int main(int argc, char** argv) {
    long runs = 10000;
    uint32_t seed = 1;
    size_t maxLen = 4096;
    std::vector<Bytes> dict;
    std::vector<Bytes> corpus;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            const size_t n = std::strlen(name);
            return a.compare(0, n, name) == 0 ? a.c_str() + n : nullptr;
        };
        if (const char* v = value("-runs=")) {
            runs = std::stol(v);
        } else if (const char* v2 = value("-seed=")) {
            seed = static_cast<uint32_t>(std::stoul(v2));
        } else if (const char* v3 = value("-max_len=")) {
            maxLen = std::stoul(v3);
        } else if (const char* v4 = value("-dict=")) {
            dict = readDictionary(v4);
        } else if (const char* v5 = value("-artifact_prefix=")) {
            gCrashPath = v5;
        } else if (a.rfind('-', 0) == 0) {
            // Other libFuzzer options mean nothing here.
        } else if (fs::is_directory(a)) {
            std::vector<fs::path> files;
            for (const auto& e : fs::directory_iterator(a))
                if (e.is_regular_file()) files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const auto& f : files) corpus.push_back(readFile(f));
        } else {
            corpus.push_back(readFile(a));
        }
    }
    gCrashPath += "crash-" + fs::path(argv[0]).filename().string();
    std::signal(SIGABRT, onFatalSignal);
    std::signal(SIGSEGV, onFatalSignal);
    std::signal(SIGBUS, onFatalSignal);

    auto run = [](const Bytes& input) {
        gCurrent = &input;
        // A copy of its own, so that reads past the end are reads past an allocation.
        const std::unique_ptr<uint8_t[]> data(new uint8_t[input.size() ? input.size() : 1]);
        std::copy(input.begin(), input.end(), data.get());
        LLVMFuzzerTestOneInput(data.get(), input.size());
        gCurrent = nullptr;
    };

    for (const auto& c : corpus) run(c);
    Mutator m(seed, maxLen, std::move(dict));
    for (long i = 0; i < runs; ++i) {
        const bool fromCorpus = !corpus.empty() && m.below(4) != 0;
        run(fromCorpus ? m.Mutate(corpus[m.below(corpus.size())]) : m.Random());
    }
    std::cout << "plain driver: " << corpus.size() << " corpus inputs and " << runs
              << " generated inputs, no invariant broken\n";
    return 0;
}
