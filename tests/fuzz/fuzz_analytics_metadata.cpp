// The file "crash_metadata" is read back at every analytics start and its dictionary becomes
// the first line of the crash event's log. A damaged or hostile file must give a dictionary
// or none, never a crash, and any line made from it must keep the log's format.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sdk/analytics/ana_crash_event.h"
#include "sdk/analytics/ana_crash_metadata.h"
#include "sdk/analytics/ana_text.h"
#include "sdk/analytics/ana_write_event_operation.h"
#include "sdk/core/console.h"

namespace {

// Four tab-separated fields, a line feed only at the end, field 3 the UTF-16 length of 4.
void checkLine(const std::string& line) {
  if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1) std::abort();
  size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find('\t', t2 + 1);
  if (t3 == std::string::npos || line.find('\t', t3 + 1) != std::string::npos) std::abort();
  std::string_view payload(line.data() + t3 + 1, line.size() - t3 - 2);
  if (std::to_string(telemetry::anatext::utf16Length(payload)) != line.substr(t2 + 1, t3 - t2 - 1)) std::abort();
  if (!telemetry::anatext::isValidUTF8(line)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    telemetry::setConsoleSink([](const std::string&) {});
    return true;
  }();
  (void)quiet;
  auto dictionary =
      telemetry::ANACrashMetadata::dictionaryFromData(std::string_view(reinterpret_cast<const char*>(data), size));
  auto metadata = std::make_shared<telemetry::ANACrashMetadata>(dictionary);
  auto event = telemetry::ANACrashEvent::create(std::chrono::system_clock::now(), size % 3);
  telemetry::ANAWriteEventOperation op(event, metadata, "/nonexistent/never-written.log");
  if (dictionary && !op.formattedMetadata()) std::abort();  // every object makes a line
  if (op.formattedMetadata()) checkLine(*op.formattedMetadata());
  if (op.formattedEvent()) checkLine(*op.formattedEvent());
  return 0;
}
