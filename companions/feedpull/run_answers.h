// The answers that a run's first converter call keeps for the run's other
// calls. The first call fetches all the run's feeds side by side and
// settles each one as its own call would; each later call of the same run
// then answers from here, moments later, instead of asking the server again.
//
// One file per feed of a run in the feed folder, so that each call reads
// only its own answer; named after the part of the call value that all
// calls of the run share, so that runs of several users, and an earlier run
// whose process id came back, never take each other's answers, and after
// the feed's place in the run's list. A file that does not read back
// exactly counts as absent: the call then fetches its feed itself, as it
// always could.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace feedpull {

struct Answer {
  std::string url;       // as the run passes it
  int status = 0;        // the converter's exit status for the URL
  std::string message;   // the line for standard error, when status is not 0
  std::string document;  // the converted document, when status is 0
  bool operator==(const Answer&) const = default;
};

struct RunAnswers {
  std::string run;           // product::ConverterCallRun of the run's calls
  std::int64_t written = 0;  // seconds since 1970, UTC
  std::vector<Answer> answers;
  bool operator==(const RunAnswers&) const = default;
};

// A run's answers take at most this much; answers past it are left to their
// calls.
inline constexpr std::size_t kMaxAnswersBytes = 32 * 1024 * 1024;

std::string SerializeAnswers(const RunAnswers& answers);
// With `only`, the result holds that URL's answer alone (if the file has
// one): the other answers are checked for their form but neither copied nor
// checksummed, which a call that wants one answer out of many would spend
// most of its time on.
std::optional<RunAnswers> ParseAnswers(const std::string& bytes, std::string_view only = {});

// The answer for `url`, or nullptr.
const Answer* FindAnswer(const RunAnswers& answers, const std::string& url);
// Adds `answer` unless the file would grow past its bound; false then.
bool AddAnswer(RunAnswers& answers, Answer answer);

// "FeedPull_Run_<run>_<feed>.dat" for the run's feed at index `feed` of its
// list, and whether a folder entry's name is one.
std::string AnswersFileName(const std::string& run, std::size_t feed);
bool IsAnswersFileName(const std::string& name);

}  // namespace feedpull
