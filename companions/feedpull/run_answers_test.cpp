#include "companions/feedpull/run_answers.h"

#include <gtest/gtest.h>

#include <string>

namespace feedpull {
namespace {

TEST(RunAnswers, FileBytesRoundTripAndAnyDamageMakesItAbsent) {
  // Texts that look like the file's own framing must not confuse it.
  const RunAnswers answers{
      "0000002a-01234567",
      1765000000,
      {{"http://a.example/rss", 0, "", "<rootrss>\nA 1 0 0 0\nend 0\n"},
       {"http://b.example/rss", 3, "cannot fetch http://b.example/rss: x", ""}}};
  const std::string bytes = SerializeAnswers(answers);
  const std::size_t first = bytes.find("A 20 0 0 26 ") + 12;
  const std::size_t second = bytes.find("A 20 3 36 0 ") + 12;
  EXPECT_EQ(bytes,
            "FeedPull run answers 1\n0000002a-01234567 1765000000\n"
            "A 20 0 0 26 " +
                bytes.substr(first, 16) +
                "\nhttp://a.example/rss<rootrss>\nA 1 0 0 0\nend 0\n\n"
                "A 20 3 36 0 " +
                bytes.substr(second, 16) +
                "\nhttp://b.example/rsscannot fetch http://b.example/rss: x\nend 2\n");
  EXPECT_EQ(ParseAnswers(bytes), answers);
  EXPECT_EQ(FindAnswer(answers, "http://b.example/rss"), &answers.answers[1]);
  EXPECT_EQ(FindAnswer(answers, "http://c.example/rss"), nullptr);

  std::string flipped = bytes;
  flipped[bytes.find("rootrss") + 2] ^= 1;
  std::string doubled = bytes;
  doubled.replace(doubled.find("b.example"), 1, "a");
  for (const std::string& damaged :
       {bytes.substr(0, bytes.size() - 1), bytes + "\n", flipped, doubled,
        std::string("FeedPull run answers 1\n../x 1\nend 0\n"), std::string()}) {
    EXPECT_EQ(ParseAnswers(damaged), std::nullopt) << damaged;
  }

  // One answer alone: the others are only held to their form.
  const std::string b = "http://b.example/rss";
  const RunAnswers only_b{answers.run, answers.written, {answers.answers[1]}};
  EXPECT_EQ(ParseAnswers(bytes, b), only_b);
  EXPECT_EQ(ParseAnswers(flipped, b), only_b);
  EXPECT_EQ(ParseAnswers(flipped, "http://a.example/rss"), std::nullopt);
  EXPECT_EQ(ParseAnswers(bytes, "http://c.example/rss"),
            (RunAnswers{answers.run, answers.written, {}}));
  for (const std::string& damaged : {bytes.substr(0, bytes.size() - 1), doubled}) {
    EXPECT_EQ(ParseAnswers(damaged, b), std::nullopt) << damaged;
  }
}

TEST(RunAnswers, AnswersPastTheBoundOrTwiceAreLeftToTheirCalls) {
  RunAnswers answers{"0000002a-01234567", 1, {}};
  EXPECT_TRUE(AddAnswer(answers, {"u1", 0, "", std::string(kMaxAnswersBytes / 2, 'x')}));
  EXPECT_FALSE(AddAnswer(answers, {"u1", 0, "", "y"}));
  EXPECT_FALSE(AddAnswer(answers, {"u2", 0, "", std::string(kMaxAnswersBytes / 2, 'x')}));
  EXPECT_TRUE(AddAnswer(answers, {"u3", 4, "cannot convert u3", ""}));
  ASSERT_EQ(answers.answers.size(), 2u);
  EXPECT_EQ(answers.answers[1].url, "u3");
  EXPECT_LE(SerializeAnswers(answers).size(), kMaxAnswersBytes);
  EXPECT_EQ(ParseAnswers(SerializeAnswers(answers)), answers);

  EXPECT_EQ(AnswersFileName("0000002a-01234567", 3), "FeedPull_Run_0000002a-01234567_3.dat");
  EXPECT_TRUE(IsAnswersFileName("FeedPull_Run_0000002a-01234567_3.dat"));
  EXPECT_FALSE(IsAnswersFileName("FeedPull_Run_.dat"));
  EXPECT_FALSE(IsAnswersFileName("FeedPull_Cache.dat"));
}

}  // namespace
}  // namespace feedpull
