// The per-user update-state INI file.
#pragma once

#include <cstdint>
#include <string>

// DataPath + "qLUX\Dovel\RSSLinks\LastUpdates_" + UserName + ".ini"
std::string UpdateStatePath();
// "Link_" + feed number + "_" + TemplateID + "_" + TemplateVersion, with the
// name parts made safe for a file name (see app/product/feed_files.h).
std::string FeedSection(const std::string& feed_number);

// Writes one key, logging what it writes.
void fncwriteToINI(std::string section, std::string key, std::string value, std::string path);
// Reads one key into `value` ("" when missing); returns its length.
std::int32_t fncReadFromINI(std::string& value, std::string section, std::string key,
                            std::string path);
