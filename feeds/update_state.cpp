// Placeholder until the update-state file lands.
#include "feeds/update_state.h"

std::string UpdateStatePath() {
  return {};
}
std::string FeedSection(const std::string& feed_number) {
  return feed_number;
}
void fncwriteToINI(std::string, std::string, std::string, std::string) {}
std::int32_t fncReadFromINI(std::string& value, std::string, std::string, std::string) {
  value.clear();
  return 0;
}
