#include <string>

#include "companions/feedpull/curl_api.h"
#include "platform/failure.h"
#include "platform/native_files.h"

namespace feedpull {
namespace {

constexpr const char* kCurlLibrary = "libcurl.so.4";

template <typename Function>
bool Resolve(void* library, const char* name, Function& function, std::string* error) {
  function = reinterpret_cast<Function>(platform::SharedLibrarySymbol(library, name));
  if (function == nullptr && error->empty()) {
    *error = std::string("cannot load ") + kCurlLibrary + ": it has no " + name;
  }
  return function != nullptr;
}

}  // namespace

const CurlApi* LoadedCurl(std::string* error) {
  static CurlApi api;
  static std::string failure;
  static const bool loaded = [] {
    void* library = nullptr;
    try {
      library = platform::LoadSharedLibrary(kCurlLibrary);
    } catch (const platform::Failure& cause) {
      failure = std::string("cannot load ") + kCurlLibrary + ": " + cause.description();
      return false;
    }
    bool all = true;
    all &= Resolve(library, "curl_global_init", api.global_init, &failure);
    all &= Resolve(library, "curl_easy_init", api.easy_init, &failure);
    all &= Resolve(library, "curl_easy_setopt", api.easy_setopt, &failure);
    all &= Resolve(library, "curl_easy_perform", api.easy_perform, &failure);
    all &= Resolve(library, "curl_easy_getinfo", api.easy_getinfo, &failure);
    all &= Resolve(library, "curl_easy_strerror", api.easy_strerror, &failure);
    all &= Resolve(library, "curl_easy_cleanup", api.easy_cleanup, &failure);
    all &= Resolve(library, "curl_slist_append", api.slist_append, &failure);
    all &= Resolve(library, "curl_slist_free_all", api.slist_free_all, &failure);
    all &= Resolve(library, "curl_strequal", api.strequal, &failure);
    all &= Resolve(library, "curl_multi_init", api.multi_init, &failure);
    all &= Resolve(library, "curl_multi_add_handle", api.multi_add_handle, &failure);
    all &= Resolve(library, "curl_multi_remove_handle", api.multi_remove_handle, &failure);
    all &= Resolve(library, "curl_multi_perform", api.multi_perform, &failure);
    all &= Resolve(library, "curl_multi_poll", api.multi_poll, &failure);
    all &= Resolve(library, "curl_multi_info_read", api.multi_info_read, &failure);
    all &= Resolve(library, "curl_multi_cleanup", api.multi_cleanup, &failure);
    return all;
  }();
  if (!loaded) {
    *error = failure;
    return nullptr;
  }
  return &api;
}

}  // namespace feedpull
