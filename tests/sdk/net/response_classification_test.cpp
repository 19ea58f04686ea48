#include "sdk/client/tel_network_response_handler.h"
#include "sdk/client/tel_url_builder.h"
#include "sdk/session/url_errors.h"

#include <gtest/gtest.h>

namespace telemetry {
namespace {

using Handler = TELNetworkResponseHandler;

URLResponse responseWith(int status, URLRequest::HeaderList headers = {}) {
  URLResponse r;
  r.URL = "https://example.invalid/";
  r.statusCode = status;
  r.headers = std::move(headers);
  return r;
}

struct Outcome {
  bool retry = false;
  OptionalError error;
};

Outcome classify(const std::optional<URLResponse>& response, const URLRequest& request = URLRequest("https://x/"),
                 const OptionalError& transport = std::nullopt) {
  Outcome o;
  Handler::handleCompletedResponse(response, request, transport, [&](bool retry, const OptionalError& error) {
    o.retry = retry;
    o.error = error;
  });
  return o;
}

TEST(ResponseClassification, StatusCodesFallIntoTheirClasses) {
  auto typeOf = [](int status) {
    TELNetworkResponseType type{};
    int seen = -1;
    Handler::clientResponseType(responseWith(status), [&](TELNetworkResponseType t, int s) {
      type = t;
      seen = s;
    });
    EXPECT_EQ(seen, status);
    return type;
  };
  for (int s : {200, 201, 202, 204, 304}) EXPECT_EQ(typeOf(s), TELNetworkResponseType::Success) << s;
  for (int s : {400, 401, 403, 404, 406, 410, 411, 413, 419, 422, 431})
    EXPECT_EQ(typeOf(s), TELNetworkResponseType::ClientError) << s;
  for (int s : {408, 500, 503, 599}) EXPECT_EQ(typeOf(s), TELNetworkResponseType::Retry) << s;
  for (int s : {420, 429}) EXPECT_EQ(typeOf(s), TELNetworkResponseType::RateLimited) << s;
  for (int s : {199, 203, 302, 405, 600}) EXPECT_EQ(typeOf(s), TELNetworkResponseType::Failure) << s;

  int status = -1;
  TELNetworkResponseType type{};
  Handler::clientResponseType(std::nullopt, [&](TELNetworkResponseType t, int s) {
    type = t;
    status = s;
  });
  EXPECT_EQ(type, TELNetworkResponseType::Failure);
  EXPECT_EQ(status, 0);
}

TEST(ResponseClassification, ErrorsCarryTypeStatusRequestIdAndContentType) {
  Outcome client = classify(responseWith(404, {{"X-Request-Id", "req-7"}, {"Content-Type", "text/html"}}));
  EXPECT_FALSE(client.retry);
  ASSERT_TRUE(client.error);
  EXPECT_TRUE(client.error->is(kTELNetworkErrorDomain, kTELNetworkErrorClient));
  EXPECT_EQ(client.error->userInfo["type"], 2);
  EXPECT_EQ(client.error->userInfo["status_code"], 404);
  EXPECT_EQ(client.error->userInfo["request_id"], "req-7");
  EXPECT_EQ(client.error->userInfo["content_type"], "text/html");

  Outcome other = classify(responseWith(203));
  EXPECT_FALSE(other.retry);
  EXPECT_TRUE(other.error->is(kTELNetworkErrorDomain, kTELNetworkErrorFailure));
  EXPECT_EQ(other.error->userInfo["request_id"], "");

  Outcome limited = classify(responseWith(429));
  EXPECT_TRUE(limited.retry);
  EXPECT_TRUE(limited.error->is(kTELNetworkErrorDomain, kTELNetworkErrorRetryable));
  EXPECT_EQ(limited.error->userInfo["type"], 4);

  Outcome server = classify(responseWith(503));
  EXPECT_TRUE(server.retry);
  EXPECT_EQ(server.error->userInfo["type"], 3);

  EXPECT_FALSE(classify(responseWith(204)).error);
  EXPECT_FALSE(classify(responseWith(304)).error);
}

TEST(ResponseClassification, OnlyTimeoutsAmongTransportErrorsAreRetried) {
  Outcome timedOut = classify(std::nullopt, URLRequest("https://x/"), makeURLError(kURLErrorTimedOut, "t"));
  EXPECT_TRUE(timedOut.retry);
  EXPECT_TRUE(timedOut.error->is(kURLErrorDomain, kURLErrorTimedOut));
  for (auto code : {kURLErrorCannotConnectToHost, kURLErrorCancelled, kURLErrorNetworkConnectionLost}) {
    Outcome o = classify(std::nullopt, URLRequest("https://x/"), makeURLError(code, "x"));
    EXPECT_FALSE(o.retry);
    EXPECT_TRUE(o.error->is(kURLErrorDomain, code));
  }
}

TEST(ResponseClassification, ContentTypeMustMatchWhatTheRequestAccepts) {
  URLRequest json("https://x/");
  json.setValue("application/json", "Accept");
  json.setValue("utf-8", "Accept-Charset");
  EXPECT_FALSE(classify(responseWith(200, {{"Content-Type", "APPLICATION/JSON; charset=UTF-8"}}), json).error);
  EXPECT_FALSE(classify(responseWith(200, {{"Content-Type", "application/json"}}), json).error);

  Outcome otherCharset = classify(responseWith(200, {{"Content-Type", "application/json; charset=latin1"}}), json);
  EXPECT_FALSE(otherCharset.retry);
  EXPECT_TRUE(otherCharset.error->is(kTELNetworkErrorDomain, kTELNetworkErrorFailure));
  EXPECT_EQ(otherCharset.error->userInfo["status_code"], 200);

  EXPECT_TRUE(classify(responseWith(200), json).error);
  EXPECT_TRUE(classify(responseWith(200, {{"Content-Type", "text/html"}}), json).error);
  EXPECT_FALSE(classify(responseWith(200), URLRequest("https://x/")).error);  // nothing asked for
}

TEST(ResponseClassification, RetryAfterReadsAsSeconds) {
  EXPECT_DOUBLE_EQ(Handler::retryValueForResponse(responseWith(429)), 2.0);
  EXPECT_DOUBLE_EQ(Handler::retryValueForResponse(std::nullopt), 2.0);
  EXPECT_DOUBLE_EQ(Handler::retryValueForResponse(responseWith(429, {{"Retry-After", "5"}})), 5.0);
  EXPECT_DOUBLE_EQ(Handler::retryValueForResponse(responseWith(429, {{"Retry-After", "-3"}})), 2.0);
  EXPECT_DOUBLE_EQ(Handler::retryValueForResponse(responseWith(429, {{"Retry-After", "soon"}})), 0.0);
  EXPECT_DOUBLE_EQ(Handler::retryValueForResponse(responseWith(429, {{"Retry-After", "nan"}})), 2.0);
}

TEST(URLBuilder, EscapesComponentsAndSkipsMissingQueryValues) {
  auto builder = TELURLBuilder::URLWithBase("https://settings.example");
  builder.appendComponent("/spi/v2/platforms/");
  builder.escapeAndAppendComponent("mac");
  builder.appendComponent("/apps/");
  builder.escapeAndAppendComponent("org.orrery app/ü");
  builder.appendValue(std::nullopt, "skipped");
  builder.appendValue(std::string("1.5 beta"), "build_version");
  builder.appendValue(std::int64_t{3}, "source");
  EXPECT_EQ(builder.URLString(),
            "https://settings.example/spi/v2/platforms/mac/apps/org.orrery%20app/%C3%BC"
            "?build_version=1.5%20beta&source=3");
  EXPECT_EQ(builder.queryParams(), 2u);
  EXPECT_TRUE(builder.URL().has_value());
  EXPECT_FALSE(TELURLBuilder::URLWithBase("https://bad host/").URL().has_value());
}

// A value reaches the server as it was: nothing in it reads as a separator or a space.
TEST(URLBuilder, EscapesEveryReservedCharacterOfAQueryValue) {
  const struct {
    const char* value;
    const char* escaped;
  } cases[] = {
      {"1.5.0+ds1", "1.5.0%2Bds1"},       {"a&b=c", "a%26b%3Dc"},     {"what?/where", "what%3F%2Fwhere"},
      {"1.5 beta", "1.5%20beta"},         {"Ümlaut", "%C3%9Cmlaut"}, {"#%;,:@$!*'()", "%23%25%3B%2C%3A%40%24%21%2A%27%28%29"},
      {"-._~AZaz09", "-._~AZaz09"},
  };
  for (const auto& c : cases) {
    auto builder = TELURLBuilder::URLWithBase("https://settings.example/apps");
    builder.appendValue(std::string(c.value), "display_version");
    builder.appendValue(std::string(c.value), "build_version");
    const std::string escaped(c.escaped);
    EXPECT_EQ(builder.URLString(),
              "https://settings.example/apps?display_version=" + escaped + "&build_version=" + escaped)
        << c.value;
    EXPECT_TRUE(builder.URL().has_value()) << c.value;
  }
}

}  // namespace
}  // namespace telemetry
