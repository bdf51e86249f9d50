#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>

#include "tests/window/window_fixture.h"

namespace swb808::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class ImageLoad : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(dir_.isValid());
    }
    QString Write(const Bytes& bytes, const QString& name = "fw.bin") {
        const QString path = dir_.filePath(name);
        std::ofstream out(path.toStdString(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    static Bytes Image(uint8_t fill = 0) { return Bytes(kFirmwareImageSize, fill); }
    static Bytes With(Bytes img, size_t at, std::string_view text) {
        std::copy(text.begin(), text.end(), img.begin() + long(at));
        return img;
    }
    // Picks `path` in the file dialog ("" = cancel) and clicks "Aus Datei".
    void Load(const QString& path) {
        dialogs->shown.clear();
        dialogs->fileAnswers.push_back(path.isEmpty() ? QString() : path);
        Click(form().LoadSpeedButton);
    }
    QTemporaryDir dir_;
};

TEST_F(ImageLoad, VersionAndMessagesOfEachKindOfFile) {
    constexpr std::string_view m = "WXYZVERSION";
    struct Case {
        const char* what;
        Bytes file;
        QString version;  // NewVersionLabel afterwards
        bool warned;      // "Kann neue Version nicht ermitteln, Datei prüfen!"
    } cases[] = {
        {"version before the marker", With(With(Image(), 95, "1.05a"), 100, m), "1.05a", false},
        {"marker ending on byte 6142", With(With(Image(), 6127, "6.13x"), 6132, m), "6.13x", false},
        {"marker starting at 6133", With(With(Image(), 6128, "6.13x"), 6133, m), "", true},
        {"zeros before the first marker, a blank in the second version",
         With(With(With(Image(), 40, m), 195, "2.00 "), 200, m), "2.00 ", false},
        {"a zero byte inside the version",
         With(With(Image(), 95,
                   std::string_view("1.0\0"
                                    "7",
                                    5)),
              100, m),
         "1.07", false},
        {"Windows-1252 characters",
         With(With(Image(), 95,
                   "\x80"
                   "1.0\xE4"),
              100, m),
         QString::fromUtf8("€1.0ä"), false},
        // Fewer than five bytes before it: passed over rather than read before the image.
        {"marker at offset 2", With(With(Image(), 0, "ab"), 2, m), "", true},
        {"no marker, all 0xFF", Image(0xFF), "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = Write(c.file);
        Load(path);
        EXPECT_TRUE(form().FirmwareLoaded);
        EXPECT_EQ(form().FilenameLabel->text(), path);
        EXPECT_EQ(form().NewVersionLabel->text(), c.version);
        ASSERT_EQ(dialogs->shown.size(), c.warned ? 2u : 1u);
        EXPECT_EQ(dialogs->shown[0].kind, RecordingDialogs::OpenFile);
        EXPECT_EQ(dialogs->shown[0].text, "Firmware binary (*.bin)");
        if (c.warned) {
            EXPECT_EQ(dialogs->shown[1].kind, RecordingDialogs::Warning);
            EXPECT_EQ(dialogs->shown[1].text, "Kann neue Version nicht ermitteln, Datei prüfen!");
        }
        // The image holds the file with its checksum in the last two bytes.
        uint32_t sum = 0;
        for (size_t i = 0; i < kChecksumOffset; ++i) sum += c.file[i];
        EXPECT_TRUE(std::equal(c.file.begin(), c.file.begin() + long(kChecksumOffset),
                               form().FirmwareImage.begin()));
        EXPECT_EQ(form().FirmwareImage[6142], sum & 0xFF);
        EXPECT_EQ(form().FirmwareImage[6143], sum >> 8 & 0xFF);
    }
    // 6142 x 255 = 0x17E602.
    EXPECT_EQ(form().FirmwareImage[6142], 0x02);
    EXPECT_EQ(form().FirmwareImage[6143], 0xE6);
}

TEST_F(ImageLoad, FilesOfAnotherSizeAreRejectedAndLeaveTheEarlierImage) {
    Load(Write(With(With(Image(0x11), 95, "1.05a"), 100, "WXYZVERSION"), "good.bin"));
    form().BootloaderCheckBox->SetChecked(true);
    ASSERT_TRUE(form().UpdateSpeedButton->isEnabled());
    const TFirmwareImage earlier = form().FirmwareImage;

    for (size_t size : {size_t(6143), size_t(6145), size_t(0)}) {
        SCOPED_TRACE(size);
        const QString path = Write(Bytes(size, 0x22), QString("size%1.bin").arg(size));
        Load(path);
        EXPECT_FALSE(form().FirmwareLoaded);
        EXPECT_EQ(form().FilenameLabel->text(), path);       // shown before the check
        EXPECT_EQ(form().NewVersionLabel->text(), "1.05a");  // kept
        ASSERT_EQ(dialogs->shown.size(), 2u);
        EXPECT_EQ(dialogs->shown[1].kind, RecordingDialogs::Error);
        EXPECT_EQ(dialogs->shown[1].text, "Dies ist keine gültige Firmware-Datei, Abbruch!");
        EXPECT_EQ(form().FirmwareImage, earlier);
        EXPECT_TRUE(form().UpdateSpeedButton->isEnabled());  // and still sends that image
    }
}

// A named pipe (nobody writing), a directory or a device is rejected at once like a file of
// the wrong size; the window never waits on the open. (The fixture's watchdog ends a hang.)
TEST_F(ImageLoad, APipeADirectoryOrADeviceIsNoFirmwareFile) {
    Load(Write(With(With(Image(0x11), 95, "1.05a"), 100, "WXYZVERSION"), "good.bin"));
    const TFirmwareImage earlier = form().FirmwareImage;
    const QString fifo = dir_.filePath("pipe.bin");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const QString folder = dir_.filePath("folder.bin");
    ASSERT_TRUE(QDir().mkdir(folder));
    for (const QString& path : {fifo, folder, QStringLiteral("/dev/null")}) {
        SCOPED_TRACE(path.toStdString());
        Load(path);
        EXPECT_FALSE(form().FirmwareLoaded);
        EXPECT_EQ(form().FilenameLabel->text(), path);
        ASSERT_EQ(dialogs->shown.size(), 2u);
        EXPECT_EQ(dialogs->shown[1].kind, RecordingDialogs::Error);
        EXPECT_EQ(dialogs->shown[1].text, "Dies ist keine gültige Firmware-Datei, Abbruch!");
        EXPECT_EQ(form().FirmwareImage, earlier);
        EXPECT_EQ(form().NewVersionLabel->text(), "1.05a");
    }
}

TEST_F(ImageLoad, AFileThatCannotBeOpenedGoesToTheGeneralErrorDisplay) {
    const QString path = dir_.filePath("missing.bin");
    Load(path);
    EXPECT_FALSE(form().FirmwareLoaded);
    EXPECT_EQ(form().FilenameLabel->text(), path);
    EXPECT_EQ(form().NewVersionLabel->text(), "(keine)");
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[1].kind, RecordingDialogs::Exception);
    EXPECT_EQ(dialogs->shown[1].text,
              QString("Datei %1 kann nicht geöffnet werden. No such file or directory").arg(path));
}

TEST_F(ImageLoad, CancelClearsLoadedButLeavesFlashUntilTheNextRuleRuns) {
    Load(Write(Image(0x33)));
    form().BootloaderCheckBox->SetChecked(true);
    const TFirmwareImage earlier = form().FirmwareImage;
    ASSERT_TRUE(form().UpdateSpeedButton->isEnabled());

    Load("");
    EXPECT_FALSE(form().FirmwareLoaded);
    EXPECT_TRUE(form().UpdateSpeedButton->isEnabled());
    EXPECT_EQ(form().FirmwareImage, earlier);
    EXPECT_EQ(dialogs->shown.size(), 1u);

    form().BootloaderCheckBox->SetChecked(false);
    form().BootloaderCheckBox->SetChecked(true);
    EXPECT_FALSE(form().UpdateSpeedButton->isEnabled());
}

TEST_F(ImageLoad, FlashButtonThroughTheCheckBoxConnectAndDisconnect) {
    TSWB808Form& f = form();
    const QString path = Write(Image(0x44));
    Load(path);  // not connected, box unchecked
    EXPECT_FALSE(f.UpdateSpeedButton->isEnabled());
    f.BootloaderCheckBox->SetChecked(true);
    EXPECT_TRUE(f.UpdateSpeedButton->isEnabled());
    f.BootloaderCheckBox->SetChecked(false);
    EXPECT_FALSE(f.UpdateSpeedButton->isEnabled());

    Connect();  // an image is loaded: "Flash" at once
    EXPECT_TRUE(f.UpdateSpeedButton->isEnabled());
    f.BootloaderCheckBox->SetChecked(true);
    f.BootloaderCheckBox->SetChecked(false);  // connected: still enabled
    EXPECT_TRUE(f.UpdateSpeedButton->isEnabled());
    Click(f.ScanSpeedButton);  // "Close", box unchecked
    EXPECT_FALSE(f.UpdateSpeedButton->isEnabled());

    f.BootloaderCheckBox->SetChecked(true);
    Scan("COM3", "115200");
    ASSERT_TRUE(f.Connected);
    Click(f.ScanSpeedButton);  // "Close", box checked
    EXPECT_TRUE(f.UpdateSpeedButton->isEnabled());

    // Connected without an image loaded: nothing enables it; a load then does.
    f.BootloaderCheckBox->SetChecked(false);
    Load("");
    Scan("COM3", "115200");
    ASSERT_TRUE(f.Connected);
    EXPECT_FALSE(f.UpdateSpeedButton->isEnabled());
    Load(path);
    EXPECT_TRUE(f.UpdateSpeedButton->isEnabled());
}

}  // namespace
}  // namespace swb808::testing
