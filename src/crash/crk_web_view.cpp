#include "crash/crk_web_view.h"

#include <nlohmann/json.hpp>

#include "crash/crk_exception.h"

namespace telemetry {

namespace {

// Keeps the page's own handlers and puts ours in front when the page loads.
const char* const kLoadHook = R"JS(var crashKitOriginalOnLoad = window.onload;
var crashKitOriginalOnError = window.onerror;
window.onerror = crashKitOnError;
window.onload = crashKitOnLoad;
function crashKitOnLoad() {
  if (window.onerror !== crashKitOnError) {
    crashKitOriginalOnError = window.onerror;
  }
  window.onerror = crashKitOnError;
  if (typeof crashKitOriginalOnLoad === 'function') {
    crashKitOriginalOnLoad.apply(this, arguments);
  }
}
)JS";

// Posts the error, then lets the page's handler see it; returns nothing, so the browser's own
// handling goes on.
const char* const kErrorFunction = R"JS(function crashKitOnError(msg, url, line, column, error) {
  var message = { msg: msg, url: url, line: line, column: column };
  window.webkit.messageHandlers.crashkit.postMessage(message);
  if (typeof crashKitOriginalOnError === 'function') {
    crashKitOriginalOnError(msg, url, line, column, error);
  }
}
)JS";

}  // namespace

std::string CRKWebViewErrorScriptSource() { return std::string(kLoadHook) + kErrorFunction; }

bool CRKWebViewInstallErrorScript(CRKScriptHost& host) {
  if (!host.supportsUserScripts()) return false;
  host.addUserScript(CRKUserScript{CRKWebViewErrorScriptSource(), 1, true});
  return true;
}

bool CRKWebViewRecordScriptMessage(const CRKScriptMessage& message) {
  const nlohmann::json body = nlohmann::json::parse(message.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) return false;
  const auto msg = body.find("msg");
  std::string reason;
  if (msg != body.end()) {
    reason = msg->is_string() ? msg->get<std::string>()
                              : msg->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  CRKExceptionRecord(kCRKExceptionJavaScript, "exception", reason.c_str(), {}, false);
  return true;
}

}  // namespace telemetry
