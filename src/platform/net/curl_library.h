#pragma once
// libcurl, loaded when a transfer first needs it rather than at start: it and the thirty-odd
// libraries it brings would otherwise be mapped and relocated before the first window, which
// sends nothing. The program links no libcurl symbol; every call goes through this table.

#include <curl/curl.h>

#include <memory>
#include <string>

namespace platform {

#define ORRERY_CURL_FUNCTIONS(X)                                                                        \
  X(global_init) X(easy_init) X(easy_cleanup) X(easy_setopt) X(easy_getinfo) X(easy_strerror) X(free) \
  X(slist_append) X(slist_free_all) X(multi_init) X(multi_cleanup) X(multi_setopt) X(multi_add_handle) \
  X(multi_remove_handle) X(multi_perform) X(multi_poll) X(multi_wakeup) X(multi_info_read) X(url)      \
  X(url_set) X(url_get) X(url_cleanup) X(easy_escape)

struct CurlLibrary {
#define ORRERY_CURL_MEMBER(name) decltype(&::curl_##name) name = nullptr;
  ORRERY_CURL_FUNCTIONS(ORRERY_CURL_MEMBER)
#undef ORRERY_CURL_MEMBER
};

// The name the system's libcurl answers to.
inline constexpr char kCurlLibraryFile[] = "libcurl.so.4";

// Opens `file` and resolves every function above, then sets libcurl up; null with `error` set
// (naming the file and the loader's reason) when it is missing or lacks a function.
std::unique_ptr<CurlLibrary> loadCurlLibrary(const char* file, std::string* error);

// The process's libcurl, loaded by the first caller; later callers get the same answer, null
// with the same `error` when it could not be loaded. Any thread.
const CurlLibrary* curlLibrary(std::string* error = nullptr);

}  // namespace platform
