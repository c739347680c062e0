#include "common/json.h"

#include <gtest/gtest.h>

using bw::TJsonObject;

TEST(Json, EscapesControlAndQuoteCharacters) {
    TJsonObject o;
    o.Add("Title", std::string_view("a\"b\\c\nd\x01", 8));
    EXPECT_EQ(o.Str(), R"({"Title":"a\"b\\c\nd\u0001"})");
}

TEST(Json, KeepsValidUtf8AndReplacesBrokenBytes) {
    TJsonObject o;
    o.Add("a", "Пётр 🎵").Add("b", "\xff\xc3").Add("c", "\xed\xa0\x80"); // lone byte, cut, surrogate
    EXPECT_EQ(o.Str(), "{\"a\":\"Пётр 🎵\",\"b\":\"\\ufffd\\ufffd\",\"c\":\"\\ufffd\\ufffd\\ufffd\"}");
}

TEST(Json, WritesNumbersBooleansAndRawValues) {
    TJsonObject o;
    o.Add("n", -5).Add("big", int64_t{1} << 40).Add("ok", true).AddRaw("items", "[[\"x\",\"y\"]]");
    EXPECT_EQ(o.Str(), R"({"n":-5,"big":1099511627776,"ok":true,"items":[["x","y"]]})");
}
