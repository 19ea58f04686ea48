// The web-view hook: its script run by node in a page stub, and the messages it posts turned
// into custom exception records.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "crash/crk_context.h"
#include "crash/crk_exception.h"
#include "crash/crk_file_reader.h"
#include "crash/crk_memory.h"
#include "crash/crk_user_logging.h"
#include "crash/crk_web_view.h"
#include "crash_test_support.h"
#include "hex_text.h"
#include "platform/core/dispatch.h"
#include "support/required_tool.h"

namespace {

using namespace telemetry;

// The page: hands its handlers over before and after the hook runs, fires the load event,
// then raises two errors (the second with a message that is no string).
const char* const kPage = R"JS(
const fs = require('fs');
const posted = [], calls = [];
global.window = { webkit: { messageHandlers: { crashkit: { postMessage: m => posted.push(JSON.stringify(m)) } } } };
window.onload = function () { calls.push('page onload'); };
window.onerror = function (msg) { calls.push('early onerror ' + msg); };
(0, eval)(fs.readFileSync(process.argv[2], 'utf8'));
window.onerror = function (msg, url, line, column, error) { calls.push('late onerror ' + msg + ' ' + line + ' ' + error); };
window.onload();
const result = window.onerror('boom', 'https://x/y.js', 3, 7, 'E1');
window.onerror({ code: 2 }, 'https://x/y.js', 4, 1, 'E2');
console.log(JSON.stringify({ posted, calls, returned: result === undefined }));
)JS";

std::string runNode(const std::string& hook) {
  if (!testsupport::requireTool("node", "nodejs")) return {};
  const std::string dir = crashtest::contextReportFolder();
  const std::string hookPath = dir + "/hook.js", pagePath = dir + "/page.js";
  std::ofstream(hookPath) << hook;
  std::ofstream(pagePath) << kPage;
  std::string out;
  if (FILE* p = ::popen(("node '" + pagePath + "' '" + hookPath + "'").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  ::unlink(hookPath.c_str());
  ::unlink(pagePath.c_str());
  return out;
}

class RecordingHost final : public CRKScriptHost {
 public:
  explicit RecordingHost(bool supports) : mSupports(supports) {}
  bool supportsUserScripts() const override { return mSupports; }
  void addUserScript(const CRKUserScript& script) override { scripts.push_back(script); }
  void addScriptMessageHandler(const std::string& name, std::function<void(const CRKScriptMessage&)> handler) override {
    handlers.emplace_back(name, std::move(handler));
  }
  std::vector<CRKUserScript> scripts;
  std::vector<std::pair<std::string, std::function<void(const CRKScriptMessage&)>>> handlers;

 private:
  bool mSupports;
};

using testsupport::unhex;

TEST(CRKWebViewTest, TheHookReportsEveryErrorAndKeepsThePagesHandlers) {
  RecordingHost none(false);
  EXPECT_FALSE(CRKWebViewInstallErrorScript(none));
  RecordingHost host(true);
  ASSERT_TRUE(CRKWebViewInstallErrorScript(host));
  ASSERT_EQ(host.scripts.size(), 1u);
  EXPECT_EQ(host.scripts[0].injectionTime, 1);
  EXPECT_TRUE(host.scripts[0].forMainFrameOnly);

  const std::string out = runNode(host.scripts[0].source);
  ASSERT_FALSE(out.empty());
  const auto result = nlohmann::json::parse(out);
  EXPECT_EQ(result["calls"], nlohmann::json({"page onload", "late onerror boom 3 E1", "late onerror [object Object] 4 E2"}));
  EXPECT_TRUE(result["returned"].get<bool>());
  ASSERT_EQ(result["posted"].size(), 2u);
  const auto first = nlohmann::json::parse(result["posted"][0].get<std::string>());
  EXPECT_EQ(first, nlohmann::json({{"msg", "boom"}, {"url", "https://x/y.js"}, {"line", 3}, {"column", 7}}));

  // What the page posted becomes two records; url, line and column are not kept.
  CRKUserLoggingABStorage* pair = CRKUserLoggingCustomExceptionPair();
  CRKUserLoggingABStorage saved = *pair;
  pair->maxEntries = 16;
  CRKLoggingQueue()->drain();
  CRKUnlinkIfExists(pair->aPath);
  CRKUnlinkIfExists(pair->bPath);
  *CRKUserLoggingActivePath(pair) = pair->aPath;
  for (const auto& body : result["posted"])
    EXPECT_TRUE(CRKWebViewRecordScriptMessage({kCRKWebViewMessageHandlerName, body.get<std::string>()}));
  EXPECT_FALSE(CRKWebViewRecordScriptMessage({kCRKWebViewMessageHandlerName, "[\"not\", \"a\", \"dictionary\"]"}));
  EXPECT_FALSE(CRKWebViewRecordScriptMessage({kCRKWebViewMessageHandlerName, "{broken"}));
  CRKLoggingQueue()->drain();
  auto all = CRKFileReadSections(pair->aPath, false);
  ASSERT_TRUE(all && all->size() == 2);
  EXPECT_EQ((*all)[0]["exception"]["type"], "javascript");
  EXPECT_EQ(unhex((*all)[0]["exception"]["name"]), "exception");
  EXPECT_EQ(unhex((*all)[0]["exception"]["reason"]), "boom");
  EXPECT_EQ(unhex((*all)[1]["exception"]["reason"]), "{\"code\":2}");
  EXPECT_EQ((*all)[0]["exception"].dump().find("y.js"), std::string::npos);

  CRKUnlinkIfExists(pair->aPath);
  CRKUnlinkIfExists(pair->bPath);
  *pair = saved;
  *CRKUserLoggingActivePath(pair) = pair->aPath;
  if (pair->entryCounter) *pair->entryCounter = 0;
}

}  // namespace
