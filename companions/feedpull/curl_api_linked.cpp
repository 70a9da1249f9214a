#include <string>

#include "companions/feedpull/curl_api.h"

namespace feedpull {

// The library is part of the program: nothing to load, nothing can fail.
const CurlApi* LoadedCurl(std::string* /*error*/) {
  static const CurlApi api{
      .global_init = &curl_global_init,
      .easy_init = &curl_easy_init,
      .easy_setopt = &curl_easy_setopt,
      .easy_perform = &curl_easy_perform,
      .easy_getinfo = &curl_easy_getinfo,
      .easy_strerror = &curl_easy_strerror,
      .easy_cleanup = &curl_easy_cleanup,
      .slist_append = &curl_slist_append,
      .slist_free_all = &curl_slist_free_all,
      .strequal = &curl_strequal,
  };
  return &api;
}

}  // namespace feedpull
