#include "service/problem.h"
#include "service/responses.h"
#include "service/static_assets.h"

namespace swb808::service {

void ServeStaticAsset(const ExchangePtr& ex) {
    const auto method = ex->request.method();
    if (method != http::verb::get && method != http::verb::head) {
        Response res =
            ProblemResponse(http::status::method_not_allowed, "the page's files are only read");
        res.set(http::field::allow, "GET, HEAD");
        ex->reply(std::move(res));
        return;
    }
    const auto asset = FindStaticAsset(PathOf(ex->request.target()));
    if (!asset) throw HttpProblem(http::status::not_found, "no such page");
    Response res{http::status::ok, 11};
    res.set(http::field::etag, asset->etag);
    res.set(http::field::cache_control,
            asset->immutable ? "public, max-age=31536000, immutable" : "no-cache");
    if (ex->request[http::field::if_none_match] == asset->etag) {
        res.result(http::status::not_modified);
    } else {
        res.set(http::field::content_type, asset->contentType);
        if (method == http::verb::get) res.body() = std::string(asset->body);
    }
    res.prepare_payload();
    if (method == http::verb::head) res.content_length(asset->body.size());
    ex->reply(std::move(res));
}

}  // namespace swb808::service
