// The token and query rule: a query finds a shared item only when the text after its first "=" (with
// something before it) is that item's token exactly; tokens are 22 URL-safe characters.

#include <string>

#include "FuzzCheck.h"
#include "app/SharedState.h"
#include "app/Token.h"
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string query(reinterpret_cast<const char*>(data), size);
  query = query.substr(0, query.find('\0'));  // the server hands over C text
  const std::string found = LookupItem(State(), query.c_str());
  const size_t eq = query.find('=');
  const std::string token = eq == std::string::npos || eq == 0 ? std::string() : query.substr(eq + 1);
  const std::string expected = token == "1A2B3C4D" ? "/shared/photos" : token == "00000000" ? "/shared/zero" : "";
  FUZZ_CHECK(found == expected);
  return 0;
}
