#include "companions/feedpull/run_answers.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "companions/feedpull/record_file.h"

namespace feedpull {
namespace {

// The file, all lengths in bytes:
//   FeedPull run answers 1\n
//   <run> <written>\n
//   per answer: A <url> <status> <message> <document> <checksum>\n
//     the three texts back to back, then \n
//   end <number of answers>\n
constexpr std::string_view kMagic = "FeedPull run answers 1\n";
constexpr std::string_view kPrefix = "FeedPull_Run_";
constexpr std::string_view kSuffix = ".dat";

std::uint64_t Checksum(const Answer& answer) {
  std::uint64_t hash = Fnv1a(kFnv1aStart, std::to_string(answer.status) + " ");
  for (const std::string* text : {&answer.url, &answer.message, &answer.document}) {
    hash = Fnv1a(hash, std::to_string(text->size()) + " ");
    hash = Fnv1aWords(hash, *text);
  }
  return hash;
}

// The header line with `checksum` in its sixteen hex digits.
std::string AnswerHeader(const Answer& answer, std::uint64_t checksum) {
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(checksum));
  return "A " + std::to_string(answer.url.size()) + " " + std::to_string(answer.status) + " " +
         std::to_string(answer.message.size()) + " " + std::to_string(answer.document.size()) +
         " " + digits + "\n";
}

// An answer's size in the file; its checksum, which does not change the
// size, is not computed.
std::size_t AnswerBytes(const Answer& answer) {
  return AnswerHeader(answer, 0).size() + answer.url.size() + answer.message.size() +
         answer.document.size() + 1;
}

std::size_t Frame(const RunAnswers& answers) {
  return kMagic.size() + answers.run.size() + 22 + 5 + 12;
}

bool IsRunText(const std::string& run) {
  return !run.empty() && run.size() <= 64 && std::all_of(run.begin(), run.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '-';
  });
}

}  // namespace

std::string SerializeAnswers(const RunAnswers& answers) {
  std::string out(kMagic);
  out += answers.run + " " + std::to_string(answers.written) + "\n";
  for (const Answer& answer : answers.answers) {
    out += AnswerHeader(answer, Checksum(answer));
    out += answer.url;
    out += answer.message;
    out += answer.document;
    out += '\n';
  }
  out += "end " + std::to_string(answers.answers.size()) + "\n";
  return out;
}

std::optional<RunAnswers> ParseAnswers(const std::string& bytes, std::string_view only) {
  if (bytes.size() > kMaxAnswersBytes) return std::nullopt;
  RecordReader reader(bytes);
  RunAnswers answers;
  std::size_t run_size = 0;
  const std::size_t blank = bytes.find(' ', kMagic.size());
  if (!reader.Literal(kMagic) || blank == std::string::npos) return std::nullopt;
  run_size = blank - kMagic.size();
  if (!reader.Text(run_size, answers.run) || !IsRunText(answers.run) || !reader.Literal(" ") ||
      !reader.NumberThen(answers.written, '\n')) {
    return std::nullopt;
  }
  std::set<std::string_view> urls;
  while (reader.Literal("A ")) {
    std::size_t url_size = 0;
    int status = 0;
    std::size_t message_size = 0;
    std::size_t document_size = 0;
    std::uint64_t checksum = 0;
    std::string_view url, message, document;
    if (!reader.NumberThen(url_size, ' ') || !reader.NumberThen(status, ' ') ||
        !reader.NumberThen(message_size, ' ') || !reader.NumberThen(document_size, ' ') ||
        !reader.NumberThen(checksum, '\n', 16) || !reader.View(url_size, url) ||
        !reader.View(message_size, message) || !reader.View(document_size, document) ||
        !reader.Literal("\n") || url.empty() || !urls.insert(url).second) {
      return std::nullopt;
    }
    if (!only.empty() && url != only) continue;
    Answer answer{std::string(url), status, std::string(message), std::string(document)};
    if (checksum != Checksum(answer)) return std::nullopt;
    answers.answers.push_back(std::move(answer));
  }
  std::size_t count = 0;
  if (!reader.Literal("end ") || !reader.NumberThen(count, '\n') || count != urls.size() ||
      !reader.AtEnd()) {
    return std::nullopt;
  }
  return answers;
}

const Answer* FindAnswer(const RunAnswers& answers, const std::string& url) {
  auto it = std::find_if(answers.answers.begin(), answers.answers.end(),
                         [&](const Answer& answer) { return answer.url == url; });
  return it == answers.answers.end() ? nullptr : &*it;
}

bool AddAnswer(RunAnswers& answers, Answer answer) {
  std::size_t total = Frame(answers) + AnswerBytes(answer);
  for (const Answer& kept : answers.answers) total += AnswerBytes(kept);
  if (answer.url.empty() || FindAnswer(answers, answer.url) != nullptr ||
      total > kMaxAnswersBytes) {
    return false;
  }
  answers.answers.push_back(std::move(answer));
  return true;
}

std::string AnswersFileName(const std::string& run, std::size_t feed) {
  return std::string(kPrefix) + run + "_" + std::to_string(feed) + std::string(kSuffix);
}

bool IsAnswersFileName(const std::string& name) {
  return name.size() > kPrefix.size() + kSuffix.size() && name.starts_with(kPrefix) &&
         name.ends_with(kSuffix);
}

}  // namespace feedpull
