#include "app/product/converter_call.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/system.h"

namespace product {
namespace {

TEST(ConverterCall, EachCallHasItsOwnValueNamingItsStarter) {
  const std::string first = NewConverterCall();
  const std::string second = NewConverterCall();
  EXPECT_NE(first, second);
  EXPECT_EQ(ConverterCallStarter(first), platform::CurrentProcessId());
  // The calls of one run share their first half only.
  EXPECT_EQ(ConverterCallRun(first), first.substr(0, 17));
  EXPECT_EQ(ConverterCallRun(second), ConverterCallRun(first));
  EXPECT_NE(first.substr(17), second.substr(17));
  EXPECT_EQ(ConverterCallRun("0000002a-0123456789abcdeF"), "");
  EXPECT_EQ(ConverterCallStarter("0000002a-0123456789abcdef"), 42u);
  for (const char* malformed :
       {"", "0000002a", "0000002a-0123456789abcdeF", "0000002a+0123456789abcdef",
        "0000002a-0123456789abcdef0", "0000002a-01234\"789abcdef"}) {
    EXPECT_EQ(ConverterCallStarter(malformed), 0u) << malformed;
  }
}

TEST(ConverterCall, OnlyTheMarkOfTheCallAndItsUrlIsTaken) {
  const std::string call = "0000002a-0123456789abcdef";
  const std::string url = "http://example.org/\xC3\xA9\"?>";
  EXPECT_EQ(ConverterMark(call, url),
            "<?FeedPull call=\"0000002a-0123456789abcdef\" "
            "url=\"687474703a2f2f6578616d706c652e6f72672fc3a9223f3e\"?>\n");
  const std::string document = "<?xml version=\"1.0\"?>\n<rootrss/>\n";
  std::string text = document + ConverterMark(call, url);
  EXPECT_TRUE(TakeConverterMark(text, call, url));
  EXPECT_EQ(text, document);
  for (const std::string& other :
       {document, document + ConverterMark("0000002a-0123456789abcdee", url),
        document + ConverterMark(call, "http://example.org/"),
        document + ConverterMark(call, url) + "<rootrss/>"}) {
    text = other;
    EXPECT_FALSE(TakeConverterMark(text, call, url)) << other;
    EXPECT_EQ(text, other);
  }
  text = document + ConverterMark("x", url);
  EXPECT_FALSE(TakeConverterMark(text, "x", url));
}

}  // namespace
}  // namespace product
