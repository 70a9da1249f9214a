// The libcurl functions the fetch uses, reached through pointers: on Linux
// the library is loaded at the first http(s) fetch (curl_api_loaded.cpp),
// because loading it and the libraries it needs is most of the start-up time
// of a converter that only reads a local file; the Windows program has it
// linked in (curl_api_linked.cpp), so that it needs no DLL beside it. The
// build picks one of the two files.
#pragma once

#include <curl/curl.h>

#include <string>

namespace feedpull {

struct CurlApi {
  decltype(&curl_global_init) global_init = nullptr;
  decltype(&curl_easy_init) easy_init = nullptr;
  decltype(&curl_easy_setopt) easy_setopt = nullptr;
  decltype(&curl_easy_perform) easy_perform = nullptr;
  decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&curl_easy_strerror) easy_strerror = nullptr;
  decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&curl_slist_append) slist_append = nullptr;
  decltype(&curl_slist_free_all) slist_free_all = nullptr;
  decltype(&curl_strequal) strequal = nullptr;
  // Transfers side by side.
  decltype(&curl_multi_init) multi_init = nullptr;
  decltype(&curl_multi_add_handle) multi_add_handle = nullptr;
  decltype(&curl_multi_remove_handle) multi_remove_handle = nullptr;
  decltype(&curl_multi_perform) multi_perform = nullptr;
  decltype(&curl_multi_poll) multi_poll = nullptr;
  decltype(&curl_multi_info_read) multi_info_read = nullptr;
  decltype(&curl_multi_cleanup) multi_cleanup = nullptr;
};

// libcurl's functions, loaded once; nothing and a one-line reason in
// `error` when they cannot be.
const CurlApi* LoadedCurl(std::string* error);

}  // namespace feedpull
