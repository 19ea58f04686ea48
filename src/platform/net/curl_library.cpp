#include "platform/net/curl_library.h"

#include "platform/core/system_log.h"

#include <dlfcn.h>

#include <mutex>

namespace platform {

std::unique_ptr<CurlLibrary> loadCurlLibrary(const char* file, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = std::string("Network transfers are unavailable: ") + file + " could not be loaded (" + why + ")";
    return nullptr;
  };
  // Kept open for the life of the process: its threads and handles outlive any owner here.
  void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    return fail(why ? why : "no reason given");
  }
  auto library = std::make_unique<CurlLibrary>();
#define ORRERY_CURL_RESOLVE(name)                                                                  \
  library->name = reinterpret_cast<decltype(library->name)>(dlsym(handle, "curl_" #name));        \
  if (!library->name) return fail("it has no curl_" #name);
  ORRERY_CURL_FUNCTIONS(ORRERY_CURL_RESOLVE)
#undef ORRERY_CURL_RESOLVE
  if (library->global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return fail("it could not be set up");
  return library;
}

const CurlLibrary* curlLibrary(std::string* error) {
  // Never freed: transfer threads still call through the table while the process exits.
  static std::once_flag once;
  static const CurlLibrary* library = nullptr;
  static const std::string* failure = nullptr;
  std::call_once(once, [] {
    auto* why = new std::string;
    library = loadCurlLibrary(kCurlLibraryFile, why).release();
    failure = why;
    if (!library) logLine(*why, LogLevel::Warning);
  });
  if (!library && error) *error = *failure;
  return library;
}

}  // namespace platform
