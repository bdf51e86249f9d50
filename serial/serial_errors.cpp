#include "serial/serial_errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace swb808 {

namespace {

struct ErrorText {
    int32_t code;  // absolute value
    const char* text;
};

// Sorted by code, searched by bisection.
constexpr ErrorText kTexts[] = {
    {0, "OK"},
    {2, "File not found"},
    {3, "Path not found"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {6, "Invalid file handle"},
    {8, "Insufficient memory"},
    {15, "Invalid drive"},
    {18, "No more files"},
    {100, "Attempt to read beyond end of file"},
    {101, "Disk is full"},
    {102, "File/device not assigned"},
    {103, "File/device not open"},
    {104, "File/device not open for input"},
    {105, "File/device not open for output"},
    {150, "Disk is write-protected"},
    {151, "Unknown disk unit"},
    {152, "Drive is not ready"},
    {153, "Unknown command"},
    {154, "Data error"},
    {155, "Bad request structure length"},
    {156, "Seek error"},
    {157, "Unknown media type"},
    {158, "Disk sector not found"},
    {159, "Printer is out of paper"},
    {160, "Device write error"},
    {161, "Device read error"},
    {162, "General failure"},
    {2001, "ie_BadId - Specified comport doesn't exist"},
    {2007, "ie_NOpen - device not open"},
    {2008, "ie_Open - device already open"},
    {2011, "The ComNumber property of the TSerialPort has not been set"},
    {3004, "Failed to put entire block"},
    {3006, "Output buffer too small for block"},
    {3007, "Buffer is empty"},
    {5001, "No more trigger slots"},
    {5002, "Data trigger too long"},
};

// Control characters become spaces, runs of spaces shrink to one.
std::string cleanSystemText(std::string s) {
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 32) c = ' ';
    auto dup = [](char a, char b) { return a == ' ' && b == ' '; };
    s.erase(std::unique(s.begin(), s.end(), dup), s.end());
    if (s.size() > 255) s.resize(255);
    return s;
}

std::string systemText(int e) {
    char buf[256];
    // GNU strerror_r returns the text (maybe not in buf); it is thread-safe unlike strerror.
    const char* text = strerror_r(e, buf, sizeof buf);
    if (text == nullptr || *text == 0) return {};
    return cleanSystemText(text);
}

}  // namespace

std::string PortErrorText(int16_t code) {
    const int32_t key = std::abs(static_cast<int32_t>(code));
    auto it = std::lower_bound(std::begin(kTexts), std::end(kTexts), key,
                               [](const ErrorText& t, int32_t k) { return t.code < k; });
    if (it != std::end(kTexts) && it->code == key && *it->text) {
        std::string s = it->text;
        if (s.size() > 255) s.resize(255);
        return s;
    }
    if (key > kErrnoCodeBase && key < kErrnoCodeBase + 4096)
        return systemText(key - kErrnoCodeBase);
    return {};
}

int32_t ErrnoToCode(int e, bool opening) {
    if (e == 0) return 0;
    if (opening) {
        if (e == ENOENT || e == ENODEV || e == ENXIO || e == ENOTDIR) return ecBadId;
        if (e == EWOULDBLOCK || e == EAGAIN || e == EBUSY) return ecAlreadyOpen;
    }
    if (e == EACCES || e == EPERM) return ecAccessDenied;
    if (e == ENOMEM) return ecOutOfMemory;
    return -(kErrnoCodeBase + e);
}

int32_t RaiseOnError(int32_t code) {
    if (code >= 0) return code;
    const auto text = [code] { return PortErrorText(static_cast<int16_t>(code)); };
    switch (code) {
        case ecBadId:
            throw EBadId(text(), code);
        case ecNotOpen:
            throw ECommNotOpen(text(), code);
        case ecAlreadyOpen:
            throw EAlreadyOpen(text(), code);
        case ecNoPortSelected:
            throw ENoPortSelected(text(), code);
        case ecPutBlockFail:
            throw EPutBlockFail(text(), code);
        case ecOutputBufferTooSmall:
            throw EOutputBufferTooSmall(text(), code);
        case ecBufferIsEmpty:
            throw EBufferIsEmpty(text(), code);
        case ecNoMoreTriggers:
            throw ENoMoreTriggers(text(), code);
        case ecTriggerTooLong:
            throw ETriggerTooLong(text(), code);
        case ecOutOfMemory:
            throw std::bad_alloc();
        default:
            break;
    }
    if (code <= -2 && code >= -162) throw EInOutError(text(), -code);
    if (code < -kErrnoCodeBase && code > -(kErrnoCodeBase + 4096)) throw EInOutError(text(), -code);
    throw ESerialException("Serial port error", 0);
}

}  // namespace swb808
