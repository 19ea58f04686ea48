// What a web page posts to the crash kit's message handler is the page's to choose: any text
// must be refused or recorded, never crash. Without a started crash context the record itself
// is a no-op, so this exercises the body's reading.

#include <cstddef>
#include <cstdint>
#include <string>

#include "crash/crk_web_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  telemetry::CRKWebViewRecordScriptMessage({telemetry::kCRKWebViewMessageHandlerName, body});
  return 0;
}
