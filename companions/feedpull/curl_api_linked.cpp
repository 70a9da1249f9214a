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
      .multi_init = &curl_multi_init,
      .multi_add_handle = &curl_multi_add_handle,
      .multi_remove_handle = &curl_multi_remove_handle,
      .multi_perform = &curl_multi_perform,
      .multi_poll = &curl_multi_poll,
      .multi_info_read = &curl_multi_info_read,
      .multi_cleanup = &curl_multi_cleanup,
  };
  return &api;
}

}  // namespace feedpull
