#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "serial/com_ports.h"
#include "serial/serial_errors.h"

namespace swb808 {
namespace {

TEST(PortErrorText, LooksUpByAbsoluteValue) {
    struct Case {
        int16_t code;
        const char* text;
    } cases[] = {
        {-2008, "ie_Open - device already open"},
        {2008, "ie_Open - device already open"},
        {0, "OK"},
        {-2001, "ie_BadId - Specified comport doesn't exist"},
        {-2007, "ie_NOpen - device not open"},
        {-2011, "The ComNumber property of the TSerialPort has not been set"},
        {-3004, "Failed to put entire block"},
        {-3006, "Output buffer too small for block"},
        {-3007, "Buffer is empty"},
        {-5001, "No more trigger slots"},
        {-5002, "Data trigger too long"},
        {5, "File access denied"},
        {2, "File not found"},
        {100, "Attempt to read beyond end of file"},
        {162, "General failure"},
        {7, ""},  // unlisted numbers have no text of their own
    };
    for (const auto& c : cases) EXPECT_EQ(PortErrorText(c.code), c.text) << c.code;
}

TEST(PortErrorText, ErrnoCodesKeepTheSystemText) {
    const auto code = static_cast<int16_t>(ErrnoToCode(EIO));
    EXPECT_EQ(code, -(kErrnoCodeBase + EIO));
    EXPECT_EQ(PortErrorText(code), "Input/output error");
    // A listed number must not pick up the meaning of the errno with the same value.
    EXPECT_EQ(PortErrorText(EIO), "File access denied");
}

TEST(ErrnoToCode, MapsOpenFailures) {
    EXPECT_EQ(ErrnoToCode(ENOENT, true), ecBadId);
    EXPECT_EQ(ErrnoToCode(ENODEV, true), ecBadId);
    EXPECT_EQ(ErrnoToCode(ENXIO, true), ecBadId);
    EXPECT_EQ(ErrnoToCode(EWOULDBLOCK, true), ecAlreadyOpen);
    EXPECT_EQ(ErrnoToCode(EBUSY, true), ecAlreadyOpen);
    EXPECT_EQ(ErrnoToCode(EACCES, true), ecAccessDenied);
    EXPECT_EQ(ErrnoToCode(EPERM), ecAccessDenied);
    EXPECT_EQ(ErrnoToCode(ENOENT), -(kErrnoCodeBase + ENOENT));
    EXPECT_EQ(ErrnoToCode(0), 0);
}

template <class E>
void expectRaises(int32_t code, int32_t errorCode) {
    try {
        RaiseOnError(code);
        FAIL() << "no exception for " << code;
    } catch (const E& e) {
        EXPECT_EQ(e.ErrorCode, errorCode) << code;
        EXPECT_EQ(e.what(), PortErrorText(static_cast<int16_t>(errorCode == 0 ? code : errorCode)))
            << code;
    }
}

TEST(RaiseOnError, ChoosesTheExceptionClass) {
    EXPECT_EQ(RaiseOnError(0), 0);
    EXPECT_EQ(RaiseOnError(17), 17);
    expectRaises<EBadId>(ecBadId, ecBadId);
    expectRaises<ECommNotOpen>(ecNotOpen, ecNotOpen);
    expectRaises<EAlreadyOpen>(ecAlreadyOpen, ecAlreadyOpen);
    expectRaises<ENoPortSelected>(ecNoPortSelected, ecNoPortSelected);
    expectRaises<EPutBlockFail>(ecPutBlockFail, ecPutBlockFail);
    expectRaises<EOutputBufferTooSmall>(ecOutputBufferTooSmall, ecOutputBufferTooSmall);
    expectRaises<EBufferIsEmpty>(ecBufferIsEmpty, ecBufferIsEmpty);
    expectRaises<ENoMoreTriggers>(ecNoMoreTriggers, ecNoMoreTriggers);
    expectRaises<ETriggerTooLong>(ecTriggerTooLong, ecTriggerTooLong);
    expectRaises<EInOutError>(-5, 5);
    expectRaises<EInOutError>(-162, 162);
    expectRaises<EInOutError>(ErrnoToCode(EIO), kErrnoCodeBase + EIO);
    EXPECT_THROW(RaiseOnError(ecOutOfMemory), std::bad_alloc);
    try {
        RaiseOnError(-1);
        FAIL();
    } catch (const ESerialException& e) {
        EXPECT_EQ(e.ErrorCode, 0);
    }
}

TEST(ComDevicePath, DefaultTableAndPortDirectory) {
    const char* old = std::getenv("SWB808_PORT_DIR");
    const std::string saved = old ? old : "";
    ::unsetenv("SWB808_PORT_DIR");
    EXPECT_EQ(ComDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(ComDevicePath(4), "/dev/ttyS3");
    EXPECT_EQ(ComDevicePath(5), "/dev/ttyUSB0");
    EXPECT_EQ(ComDevicePath(12), "/dev/ttyUSB7");
    EXPECT_EQ(ComDevicePath(13), "/dev/ttyACM0");
    EXPECT_EQ(ComDevicePath(16), "/dev/ttyACM3");
    EXPECT_EQ(ComDevicePath(0), "");
    EXPECT_EQ(ComDevicePath(17), "");
    ::setenv("SWB808_PORT_DIR", "/tmp/ports", 1);
    EXPECT_EQ(ComDevicePath(3), "/tmp/ports/com3");
    EXPECT_EQ(ComDevicePath(16), "/tmp/ports/com16");
    if (old)
        ::setenv("SWB808_PORT_DIR", saved.c_str(), 1);
    else
        ::unsetenv("SWB808_PORT_DIR");
    EXPECT_FALSE(PortAvailable(0));
}

}  // namespace
}  // namespace swb808
