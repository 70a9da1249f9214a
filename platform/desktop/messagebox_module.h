// The entry point of the message box's desktop module (see
// posix/messagebox_module.cpp), looked up by name after the module is loaded.
#pragma once

#include <cstdint>

inline constexpr char kMessageBoxModule[] = "rssnotify-messagebox.so";
inline constexpr char kMessageBoxEntry[] = "rssnotify_show_message_box";

// Shows the box as a critical desktop notification and waits until the user
// answers it: 1. When there is no desktop to show it on, or the service
// went away with it: 0, and the caller writes the message elsewhere.
extern "C" int rssnotify_show_message_box(const char* app_name, const char* text,
                                          const char* caption, std::uint32_t style);
using ShowMessageBoxEntry = int (*)(const char*, const char*, const char*, std::uint32_t);
