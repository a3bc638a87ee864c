// The two guards of the upload direction, by their edge cases: the secret in a query and the
// cross-site refusal. The requests that reach them are tested against the real server.
#include <gtest/gtest.h>

#include "web/receive/RequestOrigin.h"
#include "web/receive/UploadSecret.h"

TEST(WriteGuard, SecretAndOriginRules) {
  const std::string k = "Zx9_-aBcDeFgHiJkLmNoPq";
  const struct {
    const char* query;
    bool admitted;
  } queries[] = {
      {"k=Zx9_-aBcDeFgHiJkLmNoPq", true},
      {"name=a.txt&k=Zx9_-aBcDeFgHiJkLmNoPq", true},
      {"k=Zx9_-aBcDeFgHiJkLmNoP", false},
      {"k=Zx9_-aBcDeFgHiJkLmNoPqq", false},
      {"kk=Zx9_-aBcDeFgHiJkLmNoPq", false},
      {"", false},
      {"k=", false},
      {"k=x&k=Zx9_-aBcDeFgHiJkLmNoPq", true},
  };
  for (const auto& q : queries) EXPECT_EQ(QueryHasUploadSecret(q.query, k), q.admitted) << q.query;
  EXPECT_FALSE(QueryHasUploadSecret("k=", ""));

  const struct {
    const char *origin, *referer, *host;
    bool refused;
  } writes[] = {
      {"", "", "192.168.1.5:8081", false},  // curl sends neither
      {"http://192.168.1.5:8081", "", "192.168.1.5:8081", false},
      {"", "http://192.168.1.5:8081/index.html?k=x", "192.168.1.5:8081", false},
      {"http://PC.local", "", "pc.local:80", false},
      {"http://[fe80::1]:8081", "", "[FE80::1]:8081", false},
      {"http://192.168.1.5:8082", "", "192.168.1.5:8081", true},                        // another port
      {"https://192.168.1.5:8081", "", "192.168.1.5:8081", true},                       // another scheme
      {"http://127.0.0.2:8081", "http://192.168.1.5:8081/", "192.168.1.5:8081", true},  // Origin decides
      {"", "http://evil.example/page", "192.168.1.5:8081", true},
      {"null", "", "192.168.1.5:8081", true},
      {"http://user@192.168.1.5:8081", "", "192.168.1.5:8081", true},
      {"http://192.168.1.5:8081", "", "", true},  // no Host to compare with
  };
  for (const auto& w : writes)
    EXPECT_EQ(IsCrossSiteWrite(w.origin, w.referer, w.host), w.refused) << w.origin << " | " << w.referer;
}
