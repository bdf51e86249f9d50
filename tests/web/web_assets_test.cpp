#include "service/web/web_assets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace swb808 {
namespace {

std::string AssetRoot() {
    // The page names the rest under one hashed directory; read it back from the page.
    const WebAsset* page = FindWebAsset("/");
    const auto at = page->body.find("/assets/");
    return std::string(page->body.substr(at, page->body.find('/', at + 8) - at));
}

TEST(WebAssets, PageAtRootAndItsFilesUnderTheHashedDirectory) {
    const WebAsset* page = FindWebAsset("/");
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->contentType, "text/html; charset=utf-8");
    EXPECT_FALSE(page->immutable);
    EXPECT_EQ(FindWebAsset("/index.html"), page);
    EXPECT_EQ(FindWebAsset("/?lang=en"), page);
    EXPECT_EQ(page->body.find("@ASSET_ROOT@"), std::string_view::npos);

    const std::string root = AssetRoot();
    const WebAsset* app = FindWebAsset(root + "/app.js");
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->contentType, "text/javascript; charset=utf-8");
    EXPECT_TRUE(app->immutable);
    const WebAsset* css = FindWebAsset(root + "/style.css?v=2");
    ASSERT_NE(css, nullptr);
    EXPECT_EQ(css->contentType, "text/css; charset=utf-8");
    EXPECT_EQ(FindWebAsset(root + "/icon.svg")->contentType, "image/svg+xml");
    // Every file under the page's directory: an import between modules resolves there.
    EXPECT_NE(FindWebAsset(root + "/api.js"), nullptr);
}

std::string FileText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(WebAssets, EveryFileServedByteForByte) {
    const std::string root = AssetRoot();
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(SWB808_WEB_ASSETS_DIR)) {
        const std::string name = entry.path().filename().string();
        std::string want = FileText(entry.path());
        const WebAsset* a = FindWebAsset(name == "index.html" ? "/" : root + "/" + name);
        ASSERT_NE(a, nullptr) << name << " is not compiled in";
        if (name == "index.html") {
            for (size_t at; (at = want.find("@ASSET_ROOT@")) != std::string::npos;)
                want.replace(at, 12, root);
        }
        EXPECT_EQ(a->body, want) << name;
        ++files;
    }
    EXPECT_GT(files, 3);
}

TEST(WebAssets, EtagsAreQuotedAndDifferPerFile) {
    const std::string root = AssetRoot();
    const WebAsset* a = FindWebAsset(root + "/app.js");
    const WebAsset* b = FindWebAsset(root + "/api.js");
    for (const WebAsset* x : {FindWebAsset("/"), a, b}) {
        ASSERT_GE(x->etag.size(), 3u);
        EXPECT_EQ(x->etag.front(), '"');
        EXPECT_EQ(x->etag.back(), '"');
    }
    EXPECT_NE(a->etag, b->etag);
}

TEST(WebAssets, NothingOutsideTheCompiledSet) {
    const std::string root = AssetRoot();
    const std::string paths[] = {"",
                                 "index.html",
                                 "/app.js",
                                 "/assets/app.js",
                                 root + "/../app.js",
                                 root + "/./app.js",
                                 root + "//app.js",
                                 root + "/APP.JS",
                                 root + "/app.js/",
                                 root + "%2fapp.js",
                                 "/etc/passwd",
                                 root + "/../../../../etc/passwd",
                                 root + "/"};
    for (const std::string& path : paths) EXPECT_EQ(FindWebAsset(path), nullptr) << path;
}

}  // namespace
}  // namespace swb808
