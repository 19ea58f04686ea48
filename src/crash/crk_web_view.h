#pragma once
// Records a web page's uncaught script errors as custom exceptions of the current report. The
// page side is a script installed into a script host (the web view's configuration): it
// wraps the page's error handler and posts each error to the message handler "crashkit".

#include <functional>
#include <string>

namespace telemetry {

inline constexpr const char* kCRKWebViewMessageHandlerName = "crashkit";

// A user script as a script host takes it.
struct CRKUserScript {
  std::string source;
  int injectionTime = 1;  // 1: at document end
  bool forMainFrameOnly = true;
};

// A message posted by the page: its handler's name and its body as JSON text.
struct CRKScriptMessage {
  std::string name;
  std::string body;
};

class CRKScriptHost {
 public:
  virtual ~CRKScriptHost() = default;
  // A host without user scripts cannot take the hook.
  virtual bool supportsUserScripts() const = 0;
  virtual void addUserScript(const CRKUserScript& script) = 0;
  // Messages the page posts to `name` reach `handler`.
  virtual void addScriptMessageHandler(const std::string& name,
                                       std::function<void(const CRKScriptMessage&)> handler) = 0;
};

std::string CRKWebViewErrorScriptSource();
// False when the host takes no user scripts.
bool CRKWebViewInstallErrorScript(CRKScriptHost& host);
// False unless the body is a JSON object; its "msg" (as text, or its JSON text when it is no
// string) becomes the reason of a "javascript" exception named "exception".
bool CRKWebViewRecordScriptMessage(const CRKScriptMessage& message);

}  // namespace telemetry
