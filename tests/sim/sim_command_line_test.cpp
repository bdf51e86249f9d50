#include "sim/command_line.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace swb808::sim {
namespace {

TEST(SimCommandLine, RejectsBadOptionsWithAMessage) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--link"},
        {"--link", "/tmp/x", "--baud", "12345"},
        {"--link", "/tmp/x", "--baud", "fast"},
        {"--link", "/tmp/x", "--inputs", "256"},
        {"--link", "/tmp/x", "--vcc", "-1"},
        {"--link", "/tmp/x", "--version", "1.07"},
        {"--link", "/tmp/x", "--fault", "nonsense"},
        {"--link", "/tmp/x", "--bogus"},
        {"--com", "3"},  // without SWB808_PORT_DIR
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(args.empty() ? "(none)" : args.back());
        EXPECT_FALSE(ParseCommandLine(args, "").error.empty());
    }
}

TEST(SimCommandLine, TakesOptions) {
    auto cl = ParseCommandLine({"--com", "3", "--baud", "19200", "--inputs", "0x81", "--vcc", "866",
                                "--bootloader", "--no-pacing", "--error-delay", "300", "--flags",
                                "5", "--fault", "identity-bad-check=2", "--fault", "no-echo"},
                               "/tmp/ports");
    ASSERT_EQ(cl.error, "");
    EXPECT_EQ(cl.options.link, "/tmp/ports/com3");
    EXPECT_EQ(cl.options.baud, 19200u);
    EXPECT_EQ(cl.options.inputs, 0x81);
    EXPECT_EQ(cl.options.vcc, 866);
    EXPECT_TRUE(cl.options.bootloader);
    EXPECT_FALSE(cl.options.pacing);
    EXPECT_EQ(cl.options.config[1], 300 & 0xFF);
    EXPECT_EQ(cl.options.config[2], 300 >> 8);
    EXPECT_EQ(cl.options.config[5], 5);
    ASSERT_EQ(cl.faults.size(), 2u);
    EXPECT_EQ(cl.faults[0], std::make_pair(FaultKind::IdentityBadCheck, 2));
    EXPECT_EQ(cl.faults[1], std::make_pair(FaultKind::NoEcho, 0));
}

TEST(SimCommandLine, TakesReplyDelayAndB8Answer) {
    auto cl = ParseCommandLine({"--link", "/tmp/x", "--reply-delay", "250", "--b8-reply", "0x5A"}, "");
    ASSERT_EQ(cl.error, "");
    EXPECT_EQ(cl.options.replyDelay, std::chrono::milliseconds(250));
    EXPECT_EQ(cl.options.b8Reply, std::optional<uint8_t>(0x5A));
    const auto plain = ParseCommandLine({"--link", "/tmp/x"}, "");
    EXPECT_EQ(plain.options.replyDelay, std::chrono::milliseconds(0));
    EXPECT_FALSE(plain.options.b8Reply.has_value()) << "echo by default";
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--link", "/tmp/x", "--reply-delay"},
             {"--link", "/tmp/x", "--reply-delay", "-1"},
             {"--link", "/tmp/x", "--b8-reply", "256"}})
        EXPECT_FALSE(ParseCommandLine(bad, "").error.empty()) << bad.back();
}

TEST(SimConsole, CommandsChangeTheBoard) {
    BoardSimulator board;
    EXPECT_TRUE(RunConsoleCommand(board, "inputs 0x81").ok);
    EXPECT_EQ(board.Inputs(), 0x81);
    EXPECT_TRUE(RunConsoleCommand(board, "vcc 866").ok);
    EXPECT_EQ(board.Vcc(), 866);
    EXPECT_TRUE(RunConsoleCommand(board, "version 2.0 b").ok);
    EXPECT_EQ(board.Version(), "2.0 b");
    EXPECT_TRUE(RunConsoleCommand(board, "fault bad-check 0xB5").ok);
    EXPECT_EQ(board.Faults().at(FaultKind::BadCheck), 0xB5);
    EXPECT_TRUE(RunConsoleCommand(board, "fault off").ok);
    EXPECT_TRUE(board.Faults().empty());
    EXPECT_TRUE(RunConsoleCommand(board, "silent on").ok);
    EXPECT_TRUE(board.Silent());
    EXPECT_TRUE(RunConsoleCommand(board, "reply-delay 120").ok);
    EXPECT_EQ(board.ReplyDelay(), std::chrono::milliseconds(120));
    EXPECT_TRUE(RunConsoleCommand(board, "b8-reply 0x5A").ok);
    EXPECT_EQ(board.B8Reply(), std::optional<uint8_t>(0x5A));
    EXPECT_NE(RunConsoleCommand(board, "status").text.find("reply delay 120 ms, b8 reply 0x5A"),
              std::string::npos);
    EXPECT_TRUE(RunConsoleCommand(board, "b8-reply echo").ok);
    EXPECT_FALSE(board.B8Reply().has_value());
    EXPECT_TRUE(RunConsoleCommand(board, "quit").quit);
    for (const char* bad :
         {"inputs", "inputs 300", "silent maybe", "fault wrong", "version 1", "launch",
          "reply-delay", "reply-delay soon", "b8-reply 300", "b8-reply"})
        EXPECT_FALSE(RunConsoleCommand(board, bad).ok) << bad;
}

// The command as a technician runs it: ready line, console, clean exit.
TEST(SimExecutable, ReadyThenQuitRemovesLink) {
    char tmpl[] = "/tmp/swb808-simexe-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl, link = dir + "/com3";
    int toChild[2], fromChild[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(fromChild), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        close(toChild[1]);
        close(fromChild[0]);
        alarm(10);  // never outlive the test
        execl(SWB808_SIM_EXE, "swb808-sim", "--link", link.c_str(), "--no-pacing", nullptr);
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    FILE* out = fdopen(fromChild[0], "r");
    char line[256] = {};
    ASSERT_NE(fgets(line, sizeof line, out), nullptr);
    EXPECT_EQ(std::string(line), "ready " + link + "\n");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    const std::string cmds = "inputs 3\nstatus\nquit\n";
    ASSERT_EQ(write(toChild[1], cmds.data(), cmds.size()), static_cast<ssize_t>(cmds.size()));
    ASSERT_NE(fgets(line, sizeof line, out), nullptr);
    EXPECT_EQ(std::string(line), "ok\n");
    ASSERT_NE(fgets(line, sizeof line, out), nullptr);
    EXPECT_NE(std::string(line).find("inputs 0x03"), std::string::npos) << line;
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    fclose(out);
    close(toChild[1]);
    std::filesystem::remove_all(dir);
}

TEST(SimExecutable, SigtermExitsCleanlyAndBadOptionGivesTwo) {
    char tmpl[] = "/tmp/swb808-simexe-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl, link = dir + "/com1";
    const std::string bad =
        std::string(SWB808_SIM_EXE) + " --link " + link + " --baud 1234 2>/dev/null";
    int rc = system(bad.c_str());
    EXPECT_EQ(WEXITSTATUS(rc), 2);

    int fromChild[2];
    ASSERT_EQ(pipe(fromChild), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(fromChild[1], 1);
        close(fromChild[0]);
        alarm(10);
        execl(SWB808_SIM_EXE, "swb808-sim", "--link", link.c_str(), nullptr);
        _exit(127);
    }
    close(fromChild[1]);
    FILE* out = fdopen(fromChild[0], "r");
    char line[256] = {};
    ASSERT_NE(fgets(line, sizeof line, out), nullptr);
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    fclose(out);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace swb808::sim
