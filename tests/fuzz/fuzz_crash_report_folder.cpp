// A report folder an earlier run left: its metadata file holds any bytes. A report object
// always comes out (named by its folder when the identity is unreadable), every value
// reads without fault, and the folder moves between stages whole.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crash/crk_file_manager.h"
#include "crash/crk_internal_report.h"

namespace {

const std::string& root() {
  static const std::string folder = [] {
    char templ[] = "/tmp/fuzz-crash-report-folder-XXXXXX";
    const char* made = mkdtemp(templ);
    return std::string(made ? made : "/tmp");
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  telemetry::CRKFileManager manager(root());
  if (!manager.prepareForNewLaunch()) return 0;
  std::string folder = manager.activePath() + "/0123456789abcdef0123456789abcdef";
  manager.createDirectoryAtPath(folder);
  if (FILE* file = std::fopen((folder + "/metadata.crkrecord").c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  auto report = telemetry::CRKInternalReport::reportWithPath(folder);
  if (!report || report->identifier().empty()) std::abort();
  (void)report->APIKey();
  (void)report->dateCreated();
  (void)report->OSVersion();
  (void)report->OSBuildVersion();
  (void)report->bundleVersion();
  (void)report->bundleShortVersionString();
  (void)report->needsToBeSubmitted();
  if (!manager.moveItemAtPath(folder, manager.processingPath())) std::abort();
  manager.enumerateReportsInProcessingDirectory([](std::shared_ptr<telemetry::CRKInternalReport> found,
                                                   const std::string&) {
    if (!found) std::abort();
  });
  manager.removeContentsOfAllPaths();
  return 0;
}
