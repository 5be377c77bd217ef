#include "platform/json.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(JsonParsing, AcceptsStrictJson) {
  const auto value = parseJson(R"({"a":[1,true,null,"x\u00fc"],"b":{"c":-2.5}})");
  ASSERT_TRUE(value);
  EXPECT_EQ((*value)["a"][3], "x\xC3\xBC");
}

TEST(JsonParsing, RejectsExtensionsAndGarbage) {
  for (const char* text : {"", "{", R"({"a":1,})", "[1,]", "{} x", "/* c */ {}", "{} // c", "{'a':1}",
                           "NaN", R"({"a":01})"}) {
    EXPECT_FALSE(parseJson(text)) << text;
  }
}

TEST(JsonParsing, RejectsInvalidUtf8AndLoneSurrogates) {
  EXPECT_FALSE(parseJson("{\"a\":\"\xFF\"}"));
  EXPECT_FALSE(parseJson("{\"a\":\"\xED\xA0\x80\"}"));
  EXPECT_FALSE(parseJson(R"({"a":"\ud800"})"));
  EXPECT_FALSE(parseJson(R"({"a":"\udc00x"})"));
  EXPECT_TRUE(parseJson(R"({"a":"\ud83d\ude00"})"));
}

TEST(JsonParsing, RejectsARepeatedKeyAtAnyDepth) {
  EXPECT_FALSE(parseJson(R"({"a":1,"a":1})"));
  EXPECT_FALSE(parseJson(R"({"x":[{"a":1,"b":2,"a":3}]})"));
  // The same key in sibling objects is fine.
  EXPECT_TRUE(parseJson(R"([{"a":1},{"a":2}])"));
}

TEST(JsonParsing, RejectsAbsurdNesting) {
  EXPECT_FALSE(parseJson(std::string(100000, '[') + std::string(100000, ']')));
}

TEST(JsonSerializing, IsCompactWithEscapedSlashesAndPlainUtf8) {
  Json value = {{"p", "a/b \xC3\xBC\n\""}};
  EXPECT_EQ(serializeJson(value), R"({"p":"a\/b )" "\xC3\xBC" R"(\n\""})");
  EXPECT_EQ(serializeJson(Json{{"ok", true}}), R"({"ok":true})");
}

TEST(JsonSerializing, FailsOnInvalidUtf8) {
  EXPECT_FALSE(serializeJson(Json("\xFF")));
}

TEST(JsonFromPlist, MapsEveryTypeWithAJsonForm) {
  PlistValue dict{PlistDict{{"n", PlistValue{std::int64_t{-3}}}, {"r", PlistValue{1.5}},
                            {"b", PlistValue{false}}, {"a", PlistValue{PlistArray{PlistValue{std::string("s")}}}}}};
  const auto json = jsonFromPlist(dict);
  ASSERT_TRUE(json);
  EXPECT_EQ(serializeJson(*json), R"({"a":["s"],"b":false,"n":-3,"r":1.5})");
}

TEST(JsonFromPlist, DatesDataAndNonFiniteRealsHaveNone) {
  EXPECT_FALSE(jsonFromPlist(PlistValue{PlistDate{0}}));
  EXPECT_FALSE(jsonFromPlist(PlistValue{PlistData{"x"}}));
  EXPECT_FALSE(jsonFromPlist(PlistValue{1.0 / 0.0}));
  EXPECT_FALSE(jsonFromPlist(PlistValue{PlistArray{PlistValue{std::string("ok")}, PlistValue{PlistDate{1}}}}));
}

}  // namespace
}  // namespace platform
