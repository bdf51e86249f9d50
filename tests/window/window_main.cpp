// The connection tests' entry: one QApplication in the Fusion style. With
// SWB808_TEST_AS_NOBODY set, the process first drops root to the user nobody, so that a file
// mode can stop it (the permission test runs this binary again that way).
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <QApplication>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (std::getenv("SWB808_TEST_AS_NOBODY")) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
            ::setuid(nobody->pw_uid) != 0) {
            std::perror("dropping privileges");
            return 2;
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    // Offscreen also when run by hand or listed by the build.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    return RUN_ALL_TESTS();
}
