// Who may do what: tokens and their roles, the service without tokens, and what a browser
// page of another site gets.

#include <sys/stat.h>

#include <QCryptographicHash>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/service/service_fixture.h"

namespace swb808::service::test {
namespace {

// `swb808d token add NAME --role ROLE --tokens FILE`: its standard output.
std::string AddToken(const std::string& file, const std::string& name, const std::string& role,
                     int* status = nullptr) {
    const std::string cmd = std::string(SWB808D_EXE) + " token add " + name + " --role " + role +
                            " --tokens " + file + " 2>/dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    std::string out;
    char buf[256];
    while (p && std::fgets(buf, sizeof buf, p)) out += buf;
    const int st = p ? ::pclose(p) : -1;
    if (status) *status = WEXITSTATUS(st);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class AccessTest : public ServiceTest {
  protected:
    void SetUp() override {
        Board(3, Options(115200));
        tokens_ = Dir() + "/tokens";
        viewer_ = AddToken(tokens_, "wall-display", "viewer");
        operator_ = AddToken(tokens_, "test-rig", "operator");
        admin_ = AddToken(tokens_, "lab-admin", "admin");
    }
    std::string tokens_, viewer_, operator_, admin_;
};

TEST_F(AccessTest, TokensAreShownOnceAndOnlyTheirDigestIsKept) {
    for (const auto* t : {&viewer_, &operator_, &admin_})
        ASSERT_EQ(t->rfind("swb808_", 0), 0u) << *t;
    EXPECT_NE(viewer_, operator_);
    struct stat st {};
    ASSERT_EQ(::stat(tokens_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string file = FileText(tokens_);
    for (const auto* t : {&viewer_, &operator_, &admin_}) {
        EXPECT_EQ(file.find(*t), std::string::npos) << "the token itself is in the file";
        const std::string digest =
            QCryptographicHash::hash(QByteArray::fromStdString(*t), QCryptographicHash::Sha256)
                .toHex()
                .toStdString();
        EXPECT_NE(file.find(digest), std::string::npos);
    }
    int status = 0;
    AddToken(tokens_, "x", "superuser", &status);
    EXPECT_EQ(status, 2);
}

TEST_F(AccessTest, EachRoleMayDoWhatItsRoleAllowsAndNoMore) {
    StartService({"--port", "COM3", "--baud", "115200", "--tokens", tokens_});
    enum R { None, Viewer, Operator, Admin };
    struct Row {
        const char* method;
        std::string path;
        std::string body;
        R needs;
        int allowed;  // the status for a role that may
    };
    // The admin's requests carry bodies that are refused after the access check, so the matrix
    // neither resets nor flashes the board.
    const std::string b = "/api/v1/boards/";
    std::string id;
    for (int i = 0; i < 200 && id.empty(); ++i) {
        const auto list = Get("/api/v1/boards", {{"Authorization", "Bearer " + viewer_}}).Json();
        for (const auto& v : list["boards"].toArray())
            if (v.toObject()["state"] == "online") id = v.toObject()["id"].toString().toStdString();
        if (id.empty()) std::this_thread::sleep_for(100ms);
    }
    ASSERT_FALSE(id.empty()) << Service().Log();
    const std::vector<Row> rows = {
        {"GET", "/healthz", "", None, 200},
        {"GET", "/api/v1/me", "", None, 200},
        {"GET", "/metrics", "", Viewer, 200},
        {"GET", "/api/v1/boards", "", Viewer, 200},
        {"GET", b + id, "", Viewer, 200},
        {"GET", b + id + "/relays", "", Viewer, 200},
        {"GET", b + id + "/inputs", "", Viewer, 200},
        {"GET", b + id + "/config", "", Viewer, 200},
        {"GET", "/api/v1/jobs/1", "", Viewer, 404},
        {"PUT", b + id + "/relays/1", R"({"state":"on"})", Operator, 200},
        {"PUT", b + id + "/relays", R"({"mask":0})", Operator, 200},
        {"POST", b + id + "/relays/2/pulse", R"({"ms":1})", Operator, 200},
        {"PUT", b + id + "/config", R"({"baud":1234})", Admin, 400},
        {"POST", b + id + "/reset", R"({"now":true})", Admin, 400},
        {"POST", b + id + "/firmware", "short", Admin, 400},
    };
    const std::vector<std::pair<std::string, R>> callers = {{"", None},
                                                            {"Bearer swb808_not-a-token", None},
                                                            {"Bearer " + viewer_, Viewer},
                                                            {"Bearer " + operator_, Operator},
                                                            {"Bearer " + admin_, Admin},
                                                            {"Basic " + admin_, None}};
    for (const auto& row : rows) {
        for (const auto& [auth, role] : callers) {
            std::map<std::string, std::string> h;
            if (!auth.empty()) h["Authorization"] = auth;
            const HttpAnswer a = Http(Port(), row.method, row.path, row.body, h);
            const bool wrongToken = !auth.empty() && role == None;
            const int expected = wrongToken          ? 401
                                 : role >= row.needs ? row.allowed
                                 : role == None      ? 401
                                                     : 403;
            EXPECT_EQ(a.status, expected)
                << row.method << " " << row.path << " as \"" << auth << "\": " << a.body;
            if (a.status == 401) {
                EXPECT_EQ(a.Header("www-authenticate"), "Bearer");
            }
            if (a.status >= 400) {
                EXPECT_EQ(a.Header("content-type"), "application/problem+json");
            }
            EXPECT_EQ(a.Header("access-control-allow-origin"), "");
            EXPECT_EQ(a.Header("x-content-type-options"), "nosniff");
            EXPECT_EQ(a.Header("content-security-policy"),
                      "default-src 'self'; frame-ancestors 'none'");
        }
    }
    EXPECT_EQ(Get("/api/v1/me", {{"Authorization", "Bearer " + operator_}}).Json()["role"],
              "operator");
    EventClient anonymous(Port());
    EXPECT_EQ(anonymous.Status(), 401);
    EventClient viewer(Port(), {{"Authorization", "Bearer " + viewer_}});
    EXPECT_EQ(viewer.Status(), 200);
    // Every change is logged with who made it.
    EXPECT_TRUE(Service().WaitForLog("change by test-rig: " + id + " (COM3): relay 1 on"));
    EXPECT_EQ(Service().Log().find("change by wall-display"), std::string::npos);
}

TEST_F(AccessTest, TokensNeverComeInTheUrlAndOtherSitesPagesAreRefused) {
    StartService({"--port", "COM3", "--baud", "115200", "--tokens", tokens_});
    const std::map<std::string, std::string> op{{"Authorization", "Bearer " + operator_}};
    EXPECT_EQ(Get("/api/v1/boards?access_token=" + viewer_).status, 400);
    std::string id;
    for (int i = 0; i < 200 && id.empty(); ++i) {
        for (const auto& v : Get("/api/v1/boards", op).Json()["boards"].toArray())
            if (v.toObject()["state"] == "online") id = v.toObject()["id"].toString().toStdString();
        if (id.empty()) std::this_thread::sleep_for(100ms);
    }
    ASSERT_FALSE(id.empty());
    auto from = [&](const std::string& origin) {
        auto h = op;
        h["Origin"] = origin;
        return Put("/api/v1/boards/" + id + "/relays", R"({"mask":1})", h).status;
    };
    EXPECT_EQ(from("http://evil.example"), 403);
    EXPECT_EQ(from("http://127.0.0.1:" + std::to_string(Port())), 200);
    EventClient foreign(
        Port(), {{"Authorization", "Bearer " + operator_}, {"Origin", "http://evil.example"}});
    EXPECT_EQ(foreign.Status(), 403);
}

TEST_F(AccessTest, WithoutTokensReadsAreOpenOnLoopbackAndWritesNeedTheFlag) {
    StartService({"--port", "COM3", "--baud", "115200"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    const std::string relays = "/api/v1/boards/" + BoardId(3) + "/relays";
    EXPECT_EQ(Get(relays).status, 200);
    const HttpAnswer refused = Put(relays, R"({"mask":3})");
    EXPECT_EQ(refused.status, 403);
    EXPECT_NE(refused.Json()["detail"].toString().indexOf("--allow-local-writes"), -1);
    StopService();

    StartService({"--port", "COM3", "--baud", "115200", "--allow-local-writes"});
    EXPECT_TRUE(Service().WaitForLog("WRITES ARE OPEN"));
    ASSERT_TRUE(WaitForState(3, "online"));
    EXPECT_EQ(Put(relays, R"({"mask":3})").status, 200);
    EXPECT_TRUE(Service().WaitForLog("change by local: "));
}

TEST_F(AccessTest, RefusesTheNetworkWithoutTokensAndATokensFileOthersMayRead) {
    ServiceProcess open({"--port", "COM3", "--listen", "0.0.0.0:0"}, {});
    EXPECT_EQ(open.Wait(), 1);
    EXPECT_NE(open.Log().find("refusing to listen on 0.0.0.0"), std::string::npos) << open.Log();

    ::chmod(tokens_.c_str(), 0644);
    ServiceProcess readable({"--port", "COM3", "--listen", "127.0.0.1:0", "--tokens", tokens_}, {});
    EXPECT_EQ(readable.Wait(), 1);
    EXPECT_NE(readable.Log().find("may be read by others"), std::string::npos) << readable.Log();
}

}  // namespace
}  // namespace swb808::service::test
