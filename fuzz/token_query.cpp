// The token and query rule: a query finds a shared item only when the text after its first "=" (with
// something before it) is that item's token exactly; tokens are 22 URL-safe characters. The percent
// codec and the query reader on the same input: decoding never grows a text and refuses exactly the
// bad escapes, any bytes encoded come back whole, and a pair put first in any query is read back.

#include <string>

#include "FuzzCheck.h"
#include "app/SharedState.h"
#include "app/Token.h"
#include "web/http/PercentCodec.h"
#include "web/http/QueryParameter.h"
#include "web/send/ItemLookup.h"

namespace {
// The harness's one state, for the life of the process.
SharedState& State() {
  static SharedState state;
  return state;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  State().InsertItem("1A2B3C4D", "/shared/photos");
  State().InsertItem("00000000", "/shared/zero");
  for (int i = 0; i < 100; ++i) {
    const std::string t = MakeToken();
    FUZZ_CHECK(t.size() == 22 &&
               t.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") ==
                   std::string::npos);
  }
  return 0;
}

namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

void CheckCodec(const std::string& text) {
  bool badEscape = false;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '%' && (i + 2 >= text.size() || !IsHex(text[i + 1]) || !IsHex(text[i + 2]))) badEscape = true;
  std::string kept, strict;
  FUZZ_CHECK(PercentDecode(text, kept, PlusSign::Blank, BadEscape::Keep));
  FUZZ_CHECK(kept.size() <= text.size());
  FUZZ_CHECK(PercentDecode(text, strict, PlusSign::Blank, BadEscape::Refuse) == !badEscape);
  if (!badEscape) FUZZ_CHECK(strict == kept);
  for (bool (*keep)(unsigned char) : {IsUnreservedByte, IsAttrCharByte}) {
    const std::string encoded = PercentEncode(text, keep);
    for (const char c : encoded) FUZZ_CHECK(c == '%' || keep(static_cast<unsigned char>(c)));
    std::string back;
    FUZZ_CHECK(PercentDecode(encoded, back, PlusSign::Itself, BadEscape::Refuse) && back == text);
  }
  const std::string key = text.substr(0, text.size() / 3), value = text.substr(key.size());
  std::string read;
  const std::string query =
      PercentEncode(key, IsUnreservedByte) + "=" + PercentEncode(value, IsUnreservedByte) + "&" + text;
  FUZZ_CHECK(QueryParameter(query, key, read) && read == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string query(reinterpret_cast<const char*>(data), size);
  CheckCodec(query);
  query = query.substr(0, query.find('\0'));  // the server hands over C text
  const std::string found = LookupItem(State(), query.c_str());
  const size_t eq = query.find('=');
  const std::string token = eq == std::string::npos || eq == 0 ? std::string() : query.substr(eq + 1);
  const std::string expected = token == "1A2B3C4D" ? "/shared/photos" : token == "00000000" ? "/shared/zero" : "";
  FUZZ_CHECK(found == expected);
  return 0;
}
