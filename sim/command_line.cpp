#include "sim/command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace swb808::sim {

namespace {

std::string Hex(unsigned v) {
    char s[8];
    std::snprintf(s, sizeof s, "0x%02X", v);
    return s;
}

std::string FaultList() {
    std::string s;
    for (FaultKind k : AllFaults()) s += std::string(s.empty() ? "" : ", ") + FaultName(k);
    return s;
}

// "name" or "name=arg".
bool ParseFault(const std::string& spec, FaultKind* kind, int* arg) {
    const auto eq = spec.find('=');
    if (!FaultFromName(spec.substr(0, eq), kind)) return false;
    *arg = DefaultFaultArg(*kind);
    if (eq == std::string::npos) return true;
    long v = 0;
    if (!ParseNumber(spec.substr(eq + 1), -1, 65535, &v)) return false;
    *arg = static_cast<int>(v);
    return true;
}

}  // namespace

bool ParseNumber(const std::string& text, long min, long max, long* out) {
    if (text.empty()) return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.c_str() + (hex ? 2 : 0);
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(begin, &end, hex ? 16 : 10);
    if (errno != 0 || end == begin || *end != '\0' || v < min || v > max) return false;
    *out = v;
    return true;
}

std::string HelpText() {
    return "usage: swb808-sim --link PATH [options]\n"
           "A simulated SWB808 board on a pseudo-terminal; PATH becomes a symbolic link to the\n"
           "device the program opens. With SWB808_PORT_DIR=DIR and PATH = DIR/com3 the program\n"
           "sees the board on COM3.\n"
           "\n"
           "options:\n"
           "  --link PATH         symbolic link to create (replaces an old one)\n"
           "  --com N             same as --link $SWB808_PORT_DIR/comN (N = 1..16)\n"
           "  --baud N            firmware rate (default 9600): 300 600 1200 2400 4800 9600\n"
           "                      14400 19200 28800 38400 57600 76800 115200 230400\n"
           "  --bootloader        start in the bootloader (19200 baud), as with broken flash\n"
           "  --no-pacing         send at once instead of at wire speed\n"
           "  --trace             log every byte received and sent, with a timestamp, to stderr\n"
           "  --version TEXT      firmware version, 5 characters (default 1.07a)\n"
           "  --identity TEXT     identity text, up to 64 characters (padded with blanks)\n"
           "  --inputs N          opto inputs, 0..255 (decimal or 0x hex)\n"
           "  --relays N          relays, 0..255\n"
           "  --vcc N             raw supply reading, 0..65535 (default 800 = 4.853 V)\n"
           "  --error-delay N     stored error report delay in seconds (default 2)\n"
           "  --retry-delay N     stored retry delay in seconds (default 1)\n"
           "  --flags N           stored flags, 0..7 (default 0)\n"
           "  --restart-ms N      deaf pause after a reset or a flash (default 400)\n"
           "  --reply-delay MS    work this long on a command before answering (default 0)\n"
           "  --b8-reply N        payload byte of the answer to 0xB8, 0..255 (default: echo)\n"
           "  --silent            answer nothing\n"
           "  --fault NAME[=ARG]  switch a fault on (repeatable; names below)\n"
           "  --seed N            seed for garbage bytes\n"
           "  --help              this text\n"
           "\n"
           "commands on standard input, one per line:\n"
           "  inputs N            set the inputs (sends the input-change frame)\n"
           "  relays N            set the relays\n"
           "  vcc N               set the raw supply reading\n"
           "  version TEXT        set the firmware version (5 characters)\n"
           "  silent on|off       stop or resume answering\n"
           "  pacing on|off       wire-speed sending\n"
           "  reply-delay MS      work this long on a command before answering\n"
           "  b8-reply N|echo     payload byte of the answer to 0xB8\n"
           "  fault NAME [ARG]    switch a fault on\n"
           "  fault clear [NAME]  switch one fault or all faults off (also: fault off)\n"
           "  garbage [N]         send N random bytes now (default 32)\n"
           "  bootloader          enter the bootloader\n"
           "  status              print the board's state\n"
           "  image PATH          write the flash image (6144 bytes) to PATH\n"
           "  help                this text\n"
           "  quit                remove the link and exit\n"
           "\n"
           "faults (ARG in brackets):\n"
           "  bad-check [code]          wrong check byte in the reply to command code (0 = all)\n"
           "  truncated [code]          reply without its last two bytes (0 = all)\n"
           "  version-code6             version reply with reply code 6\n"
           "  version-short             version reply with 4 payload bytes\n"
           "  identity-bad-check [n]    identity reply n (1..4, default 3) with a wrong check\n"
           "  identity-truncated [n]    identity reply n cut short (shifts the later ones)\n"
           "  wrong-echo [block]        block echo off by one (block 0..95, -1 = all; default 0)\n"
           "  swapped-echo [block]      block echo high byte first\n"
           "  no-echo [block]           no block echo\n"
           "  stray-byte [value]        one extra byte before the next answer (once)\n"
           "  garbage [count]           random bytes before the next answer (once)\n"
           "\n"
           "SIGINT, SIGTERM and quit remove the link and exit 0; bad options exit 2.\n";
}

CommandLine ParseCommandLine(const std::vector<std::string>& args, const std::string& portDir) {
    CommandLine cl;
    auto fail = [&cl](const std::string& msg) {
        cl.error = msg;
        return cl;
    };
    long errorDelay = 2, retryDelay = 1, flags = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) return false;
            *out = args[++i];
            return true;
        };
        auto number = [&](long min, long max, long* out) {
            std::string v;
            if (!value(&v)) return false;
            return ParseNumber(v, min, max, out);
        };
        long n = 0;
        std::string v;
        if (a == "--help" || a == "-h") {
            cl.help = true;
        } else if (a == "--link") {
            if (!value(&v) || v.empty()) return fail("--link needs a path");
            cl.options.link = v;
        } else if (a == "--com") {
            if (!number(1, 16, &n)) return fail("--com needs a port number 1..16");
            if (portDir.empty()) return fail("--com needs SWB808_PORT_DIR to be set");
            cl.options.link = portDir + "/com" + std::to_string(n);
        } else if (a == "--baud") {
            if (!number(1, 10000000, &n) || RateIndex(static_cast<unsigned>(n)) < 0)
                return fail(
                    "--baud needs one of 300 600 1200 2400 4800 9600 14400 19200 28800 38400 "
                    "57600 76800 115200 230400");
            cl.options.baud = static_cast<unsigned>(n);
        } else if (a == "--bootloader") {
            cl.options.bootloader = true;
        } else if (a == "--no-pacing") {
            cl.options.pacing = false;
        } else if (a == "--trace") {
            cl.options.trace = true;
        } else if (a == "--version") {
            if (!value(&v) || v.size() != 5)
                return fail("--version needs a text of exactly 5 characters");
            cl.options.version = v;
        } else if (a == "--identity") {
            if (!value(&v) || v.size() > 64)
                return fail("--identity needs a text of at most 64 characters");
            cl.options.identity = v;
        } else if (a == "--inputs") {
            if (!number(0, 255, &n)) return fail("--inputs needs a number 0..255");
            cl.options.inputs = static_cast<uint8_t>(n);
        } else if (a == "--relays") {
            if (!number(0, 255, &n)) return fail("--relays needs a number 0..255");
            cl.options.relays = static_cast<uint8_t>(n);
        } else if (a == "--vcc") {
            if (!number(0, 65535, &n)) return fail("--vcc needs a number 0..65535");
            cl.options.vcc = static_cast<uint16_t>(n);
        } else if (a == "--error-delay") {
            if (!number(0, 65535, &errorDelay))
                return fail("--error-delay needs a number 0..65535");
        } else if (a == "--retry-delay") {
            if (!number(0, 65535, &retryDelay))
                return fail("--retry-delay needs a number 0..65535");
        } else if (a == "--flags") {
            if (!number(0, 7, &flags)) return fail("--flags needs a number 0..7");
        } else if (a == "--restart-ms") {
            if (!number(0, 60000, &n)) return fail("--restart-ms needs a number 0..60000");
            cl.options.restartDelay = std::chrono::milliseconds(n);
        } else if (a == "--reply-delay") {
            if (!number(0, 60000, &n)) return fail("--reply-delay needs a number 0..60000");
            cl.options.replyDelay = std::chrono::milliseconds(n);
        } else if (a == "--b8-reply") {
            if (!number(0, 255, &n)) return fail("--b8-reply needs a number 0..255");
            cl.options.b8Reply = static_cast<uint8_t>(n);
        } else if (a == "--silent") {
            cl.silent = true;
        } else if (a == "--fault") {
            FaultKind kind{};
            int arg = 0;
            if (!value(&v) || !ParseFault(v, &kind, &arg))
                return fail("--fault needs NAME[=ARG], NAME one of: " + FaultList());
            cl.faults.emplace_back(kind, arg);
        } else if (a == "--seed") {
            if (!number(0, 0x7FFFFFFF, &n)) return fail("--seed needs a number");
            cl.options.seed = static_cast<uint32_t>(n);
        } else {
            return fail("unknown option " + a + " (see --help)");
        }
    }
    cl.options.config[1] = static_cast<uint8_t>(errorDelay & 0xFF);
    cl.options.config[2] = static_cast<uint8_t>(errorDelay >> 8);
    cl.options.config[3] = static_cast<uint8_t>(retryDelay & 0xFF);
    cl.options.config[4] = static_cast<uint8_t>(retryDelay >> 8);
    cl.options.config[5] = static_cast<uint8_t>(flags);
    if (!cl.help && cl.options.link.empty()) return fail("--link PATH is required (see --help)");
    return cl;
}

ConsoleReply RunConsoleCommand(BoardSimulator& board, const std::string& line) {
    std::istringstream in(line);
    std::string cmd, a, b;
    in >> cmd >> a >> b;
    ConsoleReply r;
    r.text = "ok";
    auto error = [&r](const std::string& msg) {
        r.ok = false;
        r.text = "error: " + msg;
        return r;
    };
    auto onOff = [](const std::string& s, bool* on) {
        if (s == "on") return *on = true, true;
        if (s == "off") return *on = false, true;
        return false;
    };
    long n = 0;
    bool on = false;
    if (cmd.empty()) {
        r.text.clear();
    } else if (cmd == "quit" || cmd == "exit") {
        r.quit = true;
        r.text = "bye";
    } else if (cmd == "inputs") {
        if (!ParseNumber(a, 0, 255, &n)) return error("inputs needs a number 0..255");
        board.SetInputs(static_cast<uint8_t>(n));
    } else if (cmd == "relays") {
        if (!ParseNumber(a, 0, 255, &n)) return error("relays needs a number 0..255");
        board.SetRelays(static_cast<uint8_t>(n));
    } else if (cmd == "vcc") {
        if (!ParseNumber(a, 0, 65535, &n)) return error("vcc needs a number 0..65535");
        board.SetVcc(static_cast<uint16_t>(n));
    } else if (cmd == "version") {
        // The text may hold a blank: take the rest of the line.
        const auto at = line.find("version") + 8;
        const std::string text = at <= line.size() ? line.substr(at) : std::string();
        if (text.size() != 5) return error("version needs exactly 5 characters");
        board.SetVersion(text);
    } else if (cmd == "silent") {
        if (!onOff(a, &on)) return error("silent on|off");
        board.SetSilent(on);
    } else if (cmd == "pacing") {
        if (!onOff(a, &on)) return error("pacing on|off");
        board.SetPacing(on);
    } else if (cmd == "reply-delay") {
        if (!ParseNumber(a, 0, 60000, &n)) return error("reply-delay needs milliseconds 0..60000");
        board.SetReplyDelay(std::chrono::milliseconds(n));
    } else if (cmd == "b8-reply") {
        if (a == "echo") {
            board.SetB8Reply(std::nullopt);
        } else {
            if (!ParseNumber(a, 0, 255, &n)) return error("b8-reply needs a number 0..255 or echo");
            board.SetB8Reply(static_cast<uint8_t>(n));
        }
    } else if (cmd == "fault") {
        if (a == "off" || (a == "clear" && b.empty())) {
            board.ClearFaults();
        } else if (a == "clear") {
            FaultKind kind{};
            if (!FaultFromName(b, &kind))
                return error("unknown fault " + b + "; faults: " + FaultList());
            board.ClearFault(kind);
        } else {
            FaultKind kind{};
            if (!FaultFromName(a, &kind))
                return error("unknown fault '" + a + "'; faults: " + FaultList());
            int arg = DefaultFaultArg(kind);
            if (!b.empty()) {
                if (!ParseNumber(b, -1, 65535, &n)) return error("fault argument must be a number");
                arg = static_cast<int>(n);
            }
            board.SetFault(kind, arg);
        }
    } else if (cmd == "garbage") {
        n = 32;
        if (!a.empty() && !ParseNumber(a, 1, 4096, &n))
            return error("garbage needs a count 1..4096");
        board.SendGarbage(static_cast<size_t>(n));
    } else if (cmd == "bootloader") {
        board.EnterBootloader();
    } else if (cmd == "image") {
        // The path may hold blanks: take the rest of the line.
        const auto at = line.find("image") + 6;
        const std::string path = at <= line.size() ? line.substr(at) : std::string();
        if (path.empty()) return error("image needs a file name");
        const std::vector<uint8_t> image = board.Image();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()),
                  static_cast<std::streamsize>(image.size()));
        out.close();
        if (!out) return error("cannot write " + path);
    } else if (cmd == "status") {
        std::ostringstream s;
        const auto c = board.Config();
        s << "mode " << ModeName(board.Mode()) << ", rate " << board.Rate() << ", version "
          << board.Version() << ", relays " << Hex(board.Relays()) << ", inputs "
          << Hex(board.Inputs()) << ", vcc " << board.Vcc() << ", config";
        for (uint8_t x : c) s << ' ' << Hex(x);
        s << ", resets " << board.ResetCount() << ", flashes " << board.FlashCount() << ", blocks "
          << board.BlocksReceived() << (board.Silent() ? ", silent" : "");
        if (board.ReplyDelay().count() > 0) s << ", reply delay " << board.ReplyDelay().count() << " ms";
        if (const auto b8 = board.B8Reply()) s << ", b8 reply " << Hex(*b8);
        for (const auto& [kind, arg] : board.Faults()) {
            const bool byteArg = kind == FaultKind::BadCheck || kind == FaultKind::Truncated ||
                                 kind == FaultKind::StrayByte;
            s << ", fault " << FaultName(kind) << ' '
              << (byteArg ? Hex(static_cast<unsigned>(arg)) : std::to_string(arg));
        }
        r.text = s.str();
    } else if (cmd == "help") {
        r.text = HelpText();
    } else {
        return error("unknown command '" + cmd + "' (try help)");
    }
    return r;
}

}  // namespace swb808::sim
