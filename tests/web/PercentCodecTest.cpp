// The percent codec and the query reader on the inputs where readers of addresses disagree: '+',
// escapes that are not escapes, NUL, and every byte through each encoding.

#include <gtest/gtest.h>

#include "web/http/PercentCodec.h"
#include "web/http/QueryParameter.h"

using namespace std::string_literals;

TEST(PercentCodec, DecodesEscapesAsEachReaderNeedsAndEncodesEveryByteBack) {
  const struct {
    std::string text;
    PlusSign plus;
    BadEscape bad;
    bool ok;
    std::string decoded;
  } rows[] = {
      {"a%20b%2fc", PlusSign::Itself, BadEscape::Keep, true, "a b/c"},
      {"%e4%B8%AD", PlusSign::Itself, BadEscape::Refuse, true, "中"},
      {"a+b%2B", PlusSign::Itself, BadEscape::Keep, true, "a+b+"},
      {"a+b%2B", PlusSign::Blank, BadEscape::Keep, true, "a b+"},  // only a plain '+' is a blank
      {"%zz%4%", PlusSign::Itself, BadEscape::Keep, true, "%zz%4%"},
      {"%%41", PlusSign::Itself, BadEscape::Keep, true, "%A"},
      {"%zz", PlusSign::Itself, BadEscape::Refuse, false, ""},
      {"ab%4", PlusSign::Itself, BadEscape::Refuse, false, ""},
      {"ab%", PlusSign::Itself, BadEscape::Refuse, false, ""},
      {"a%00b", PlusSign::Itself, BadEscape::Refuse, true, "a\0b"s},  // the caller refuses a NUL
  };
  for (const auto& row : rows) {
    std::string out;
    EXPECT_EQ(PercentDecode(row.text, out, row.plus, row.bad), row.ok) << row.text;
    if (row.ok) {
      EXPECT_EQ(out, row.decoded) << row.text;
    }
  }

  std::string everyByte;
  for (int c = 0; c < 256; ++c) everyByte += static_cast<char>(c);
  for (bool (*keep)(unsigned char) : {IsUnreservedByte, IsAttrCharByte}) {
    std::string back;
    EXPECT_TRUE(PercentDecode(PercentEncode(everyByte, keep), back, PlusSign::Itself, BadEscape::Refuse));
    EXPECT_EQ(back, everyByte);
  }
  EXPECT_EQ(PercentEncode("ä a+b&c~", IsUnreservedByte), "%C3%A4%20a%2Bb%26c~");
  EXPECT_EQ(PercentEncode("ä a+b&c~", IsAttrCharByte), "%C3%A4%20a+b&c~");
}

TEST(PercentCodec, QueryReadsTheFirstPairOfANameWithNameAndValueDecoded) {
  const struct {
    std::string query, key;
    bool found;
    std::string value;
  } rows[] = {
      {"id=a+b%21&id=2", "id", true, "a b!"},
      {"%69d=7", "id", true, "7"},
      {"id&id=2", "id", true, ""},  // a name without "=" has an empty value
      {"x=1&&id==2=", "id", true, "=2="},
      {"idx=1&xid=2", "id", false, ""},
      {"", "id", false, ""},
  };
  for (const auto& row : rows) {
    std::string value;
    EXPECT_EQ(QueryParameter(row.query, row.key, value), row.found) << row.query;
    EXPECT_EQ(value, row.value) << row.query;
  }
  int64_t n = 0;
  EXPECT_TRUE(QueryNumber("size=%31%32", "size", n));
  EXPECT_EQ(n, 12);
  for (const char* bad : {"size=-1", "size=", "size=1e3", "size=1234567890123456789"})
    EXPECT_FALSE(QueryNumber(bad, "size", n)) << bad;
}
