#include "platform/automation_protocol.h"

#include <gtest/gtest.h>

namespace platform::automation_protocol {
namespace {

using Kind = Request::Kind;

TEST(AutomationProtocolTest, EscapeAndUnescapeRoundTripAnyText) {
  const std::string text = "a\\b\nc\rd\te \xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80 \\n";
  EXPECT_EQ(Escape(text), "a\\\\b\\nc\\rd\\te \xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80 \\\\n");
  EXPECT_EQ(Unescape(Escape(text)), text);
  // Unknown escapes keep the character after the backslash; a lone one stays.
  EXPECT_EQ(Unescape("\\q\\\"x\\"), "q\"x\\");
}

TEST(AutomationProtocolTest, TypeNamesMatchExactly) {
  for (const auto type :
       {VarType::kEmpty, VarType::kI2, VarType::kI4, VarType::kBool, VarType::kBstr}) {
    EXPECT_EQ(ParseTypeName(TypeName(type)), type);
  }
  EXPECT_EQ(TypeName(VarType::kBool), "BOOL");
  EXPECT_EQ(ParseTypeName("bstr"), std::nullopt);
  EXPECT_EQ(ParseTypeName("I8"), std::nullopt);
}

TEST(AutomationProtocolTest, RequestsFormatAsDocumented) {
  EXPECT_EQ(FormatRequest({Kind::kPut, "Icon", Variant::I4(7)}), "PUT Icon I4 7");
  EXPECT_EQ(FormatRequest({Kind::kPut, "TransparencyLevel", Variant::I2(-100)}),
            "PUT TransparencyLevel I2 -100");
  EXPECT_EQ(FormatRequest({Kind::kPut, "On", Variant::Bool(true)}), "PUT On BOOL -1");
  EXPECT_EQ(FormatRequest({Kind::kPut, "Body", Variant::Bstr("Two lines:\nsecond one")}),
            "PUT Body BSTR Two lines:\\nsecond one");
  EXPECT_EQ(FormatRequest({Kind::kPut, "Body", Variant::Bstr("")}), "PUT Body BSTR ");
  EXPECT_EQ(FormatRequest({Kind::kPut, "Tag", Variant{}}), "PUT Tag EMPTY");
  EXPECT_EQ(FormatRequest({Kind::kCall, "Popup", {}}), "CALL Popup");
  EXPECT_EQ(FormatRequest({Kind::kGet, "ClosedBy", {}}), "GET ClosedBy");
}

TEST(AutomationProtocolTest, RequestsParseBackToWhatWasFormatted) {
  const std::vector<Request> requests = {
      {Kind::kPut, "Header", Variant::Bstr(" lead and trail \\ \t ")},
      {Kind::kPut, "Body", Variant::Bstr("")},
      {Kind::kPut, "Width", Variant::I4(-2147483647 - 1)},
      {Kind::kPut, "Level", Variant::I2(32767)},
      {Kind::kPut, "Off", Variant::Bool(false)},
      {Kind::kPut, "Tag", Variant{}},
      {Kind::kCall, "Pop_up2", {}},
      {Kind::kGet, "closedby", {}},
  };
  for (const auto& request : requests) {
    const auto parsed = ParseRequest(FormatRequest(request));
    ASSERT_TRUE(parsed) << FormatRequest(request);
    EXPECT_EQ(parsed->kind, request.kind);
    EXPECT_EQ(parsed->member, request.member);
    EXPECT_EQ(parsed->value, request.value);
  }
}

TEST(AutomationProtocolTest, MalformedRequestsAreRejected) {
  for (const std::string line :
       {"", "PUT", "PUT Icon", "PUT Icon I4", "PUT Icon I4 7x", "PUT Icon I4  7",
        "PUT Icon I2 32768", "PUT Icon I4 2147483648", "PUT On BOOL 1", "PUT Tag EMPTY x",
        "PUT Icon I8 7", "put Icon I4 7", "CALL", "CALL Pop-up", "CALL Popup now", "GET Closed By",
        "GET ", "SET Icon I4 7"}) {
    EXPECT_FALSE(ParseRequest(line)) << line;
  }
}

// Answers built field by field: GCC 12 takes the empty Variant of a braced
// temporary for uninitialised in optimised builds.
Answer Success(Variant value) {
  Answer answer;
  answer.value = std::move(value);
  return answer;
}

Answer Failed(long number, std::string description) {
  Answer answer;
  answer.ok = false;
  answer.number = number;
  answer.description = std::move(description);
  return answer;
}

TEST(AutomationProtocolTest, AnswersFormatAndParse) {
  EXPECT_EQ(FormatAnswer(Answer{}), "OK");
  EXPECT_EQ(FormatAnswer(Success(Variant::Bstr("CLICK"))), "OK BSTR CLICK");
  EXPECT_EQ(FormatAnswer(Success(Variant::I2(5))), "OK I2 5");
  EXPECT_EQ(FormatAnswer(Failed(438, "Object doesn't support this property or method")),
            "ERR 438 Object doesn't support this property or method");
  EXPECT_EQ(FormatAnswer(Failed(-2147023170, "a\nb")), "ERR -2147023170 a\\nb");

  const auto ok = ParseAnswer("OK BSTR tab\\there");
  ASSERT_TRUE(ok);
  EXPECT_TRUE(ok->ok);
  EXPECT_EQ(ok->value, Variant::Bstr("tab\there"));

  const auto empty = ParseAnswer("OK");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->ok);
  EXPECT_EQ(empty->value, Variant{});
  EXPECT_EQ(ParseAnswer("OK EMPTY")->value, Variant{});
  EXPECT_EQ(ParseAnswer("OK BOOL -1")->value, Variant::Bool(true));

  const auto failure = ParseAnswer("ERR 438 Object doesn't support this property or method");
  ASSERT_TRUE(failure);
  EXPECT_FALSE(failure->ok);
  EXPECT_EQ(failure->number, 438);
  EXPECT_EQ(failure->description, "Object doesn't support this property or method");
  EXPECT_EQ(ParseAnswer("ERR 5")->description, "");
}

TEST(AutomationProtocolTest, MalformedAnswersAreRejected) {
  for (const std::string line : {"", "ok", "OK I4", "OK I4 x", "OK BSTRX a", "ERR", "ERR x y",
                                 "ERR  5 y", "ERR 5x y", "OKAY", "OK BOOL 2"}) {
    EXPECT_FALSE(ParseAnswer(line)) << line;
  }
}

}  // namespace
}  // namespace platform::automation_protocol
