// CHttpClient against a real server on a loopback port: the request headers, the cookie jar, the
// body store's capacity and content decoding.

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "ScriptedServer.h"
#include "service/HttpClient.h"
#include "support/SilentListener.h"

namespace {

std::vector<std::string> HeadLines(const std::string& request) {
  std::vector<std::string> lines;
  std::istringstream in(request.substr(0, request.find("\r\n\r\n")));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Gzip(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, text.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

using Jar = std::map<std::string, std::string>;

class HttpClientTest : public ::testing::Test {};

}  // namespace

TEST_F(HttpClientTest, NamesMarlixAndItsReleaseOnceAndSendsNoCookieOrRefererWithAnEmptyJar) {
  CScriptedServer server([](const std::string&) { return HttpReply("ok"); });
  CHttpClient client;
  ASSERT_EQ(client.Request(("http://" + server.Host() + "/login").c_str()), 0);
  ASSERT_TRUE(server.WaitRequests(1));
  std::vector<std::string> lines = HeadLines(server.Requests()[0]);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "GET /login HTTP/1.1");
  EXPECT_EQ(lines[1], "Host: " + server.Host());
  const auto agents = std::count_if(lines.begin(), lines.end(),
                                    [](const std::string& line) { return line.rfind("User-Agent:", 0) == 0; });
  EXPECT_EQ(agents, 1);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "User-Agent: Marlix/" MARLIX_VERSION), lines.end());
  for (const std::string& line : lines) {
    EXPECT_NE(line.rfind("Cookie", 0), 0u) << line;
    EXPECT_NE(line.rfind("Referer", 0), 0u) << line;
  }
  EXPECT_EQ(client.ResponseCode(), 200);
  EXPECT_STREQ(client.Body(), "ok");
  EXPECT_EQ(client.BodyLength(), 2);
  EXPECT_NE(std::string(client.HeaderText()).find("Content-Length: 2\r\n"), std::string::npos);
  EXPECT_EQ(client.HeaderLength(), static_cast<int>(std::strlen(client.HeaderText())));
}

TEST_F(HttpClientTest, LearnsAttributesAsCookiesAndSendsTheJarInByteOrder) {
  int calls = 0;
  CScriptedServer server([&](const std::string&) {
    return ++calls == 1 ? HttpReply("", "Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n") : HttpReply("");
  });
  CHttpClient client;
  ASSERT_EQ(client.Request(("http://" + server.Host() + "/").c_str()), 0);
  EXPECT_EQ(client.CookieJar(), (Jar{{" path", "/"}, {"a", "1"}, {"b", "2"}}));
  ASSERT_EQ(client.Request(("http://" + server.Host() + "/").c_str()), 0);
  ASSERT_TRUE(server.WaitRequests(2));
  const std::string second = server.Requests()[1];
  EXPECT_NE(second.find("\r\nCookie: path=/; a=1; b=2;"), std::string::npos) << second;
  EXPECT_EQ(server.Requests()[0].find("Cookie"), std::string::npos);
  EXPECT_EQ(second.find("Referer"), std::string::npos);
}

TEST_F(HttpClientTest, LearnsOnlyTheFirstEightLinesOfOneSpelling) {
  std::string nine;
  for (int i = 1; i <= 9; ++i) nine += "Set-Cookie: c" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
  CScriptedServer server([&](const std::string& head) {
    if (head.find("/nine") != std::string::npos) return HttpReply("", nine);
    return HttpReply("", "Set-Cookie: y=2\r\nset-Cookie: x=1; HttpOnly;=v;;z=3\r\nSet-Cookie: w=4\r\n");
  });
  CHttpClient nineLines;
  nineLines.Request(("http://" + server.Host() + "/nine").c_str());
  EXPECT_EQ(nineLines.CookieJar().size(), 8u);
  EXPECT_EQ(nineLines.CookieJar().count("c8"), 1u);
  EXPECT_EQ(nineLines.CookieJar().count("c9"), 0u);

  // "set-Cookie" wins over "Set-Cookie"; pieces without "=" or with nothing before it are dropped.
  CHttpClient lower;
  lower.Request(("http://" + server.Host() + "/lower").c_str());
  EXPECT_EQ(lower.CookieJar(), (Jar{{"x", "1"}, {"z", "3"}}));
}

TEST_F(HttpClientTest, CutsLongCookieLinesNamesAndValuesToTheirSlots) {
  const std::string longName(600, 'n');
  const std::string longValue(2000, 'v');
  CScriptedServer server([&](const std::string&) {
    return HttpReply(
        "", "Set-Cookie: " + longName + "=" + longValue + "\r\nSet-Cookie: k=" + std::string(700, 'w') + "\r\n");
  });
  CHttpClient client;
  ASSERT_EQ(client.Request(("http://" + server.Host() + "/").c_str()), 0);
  // The line is cut to 1,023 characters first (600 + "=" + 422), then the name and the value to 511 each.
  const Jar expected{{std::string(511, 'n'), std::string(422, 'v')}, {"k", std::string(511, 'w')}};
  EXPECT_TRUE(client.CookieJar() == expected);
}

TEST_F(HttpClientTest, StoresABodyOfExactlyTwoMebibytesAndAbortsOnOneByteMore) {
  const std::string full(2097152, 'x');
  CScriptedServer server(
      [&](const std::string& head) { return HttpReply(head.find("/more") != std::string::npos ? full + "y" : full); });
  CHttpClient client;
  EXPECT_EQ(client.Request(("http://" + server.Host() + "/full").c_str()), 0);
  EXPECT_EQ(client.BodyLength(), 2097152);
  EXPECT_FALSE(client.BodyOverflow());
  EXPECT_EQ(client.Body()[2097152], '\0');

  EXPECT_EQ(client.Request(("http://" + server.Host() + "/more").c_str()), 23);  // CURLE_WRITE_ERROR
  EXPECT_TRUE(client.BodyOverflow());
  EXPECT_LE(client.BodyLength(), 2097152);
  EXPECT_EQ(client.Body()[client.BodyLength()], '\0');
}

TEST_F(HttpClientTest, OverlongHeaderTextSetsItsFlagAndAborts) {
  CScriptedServer server(
      [](const std::string&) { return HttpReply("x", "X-Filler: " + std::string(9000, 'f') + "\r\n"); });
  CHttpClient client;
  EXPECT_EQ(client.Request(("http://" + server.Host() + "/").c_str()), 23);
  EXPECT_TRUE(client.HeaderOverflow());
  EXPECT_LE(client.HeaderLength(), 8191);
}

TEST_F(HttpClientTest, StoresAGzipBodyDecoded) {
  const std::string text = "1 a newer release\n" + std::string(5000, 'z');
  CScriptedServer server([&](const std::string&) { return HttpReply(Gzip(text), "Content-Encoding: gzip\r\n"); });
  CHttpClient client;
  ASSERT_EQ(client.Request(("http://" + server.Host() + "/").c_str()), 0);
  EXPECT_EQ(std::string(client.Body(), client.BodyLength()), text);
}

TEST_F(HttpClientTest, ReportsTheStatusAndTheLibraryResult) {
  CScriptedServer server([](const std::string&) { return HttpReply("gone", "", 404); });
  CHttpClient client;
  EXPECT_EQ(client.Request(("http://" + server.Host() + "/").c_str()), 0);
  EXPECT_EQ(client.ResponseCode(), 404);

  // A second request clears the store: nothing is left of the first when no server answers.
  EXPECT_EQ(client.Request(("http://127.0.0.1:" + std::to_string(RefusingPort()) + "/").c_str()), 7);
  EXPECT_EQ(client.ResponseCode(), 0);
  EXPECT_EQ(client.BodyLength(), 0);
  EXPECT_EQ(client.HeaderLength(), 0);
}

// A cookie line ends at its first control character: a bare carriage return in a server's
// Set-Cookie cannot put a header line of its own into the next request.
TEST_F(HttpClientTest, ACarriageReturnInsideSetCookieCannotAddARequestHeader) {
  int calls = 0;
  CScriptedServer server([&](const std::string&) {
    return ++calls == 1 ? HttpReply("", "Set-Cookie: a=1\rX-Injected: yes\r\n") : HttpReply("");
  });
  CHttpClient client;
  ASSERT_EQ(client.Request(("http://" + server.Host() + "/").c_str()), 0);
  EXPECT_EQ(client.CookieJar(), (Jar{{"a", "1"}}));
  ASSERT_EQ(client.Request(("http://" + server.Host() + "/").c_str()), 0);
  ASSERT_TRUE(server.WaitRequests(2));
  EXPECT_EQ(server.Requests()[1].find("X-Injected"), std::string::npos) << server.Requests()[1];
}

TEST_F(HttpClientTest, TheCallersStopFlagEndsARequestToASilentServerAtOnce) {
  CSilentListener silent;
  CStopFlag stop;
  CHttpClient client;
  client.SetStopFlag(&stop);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.Set();
  });
  const auto start = std::chrono::steady_clock::now();
  const int result = client.Request(("http://" + silent.Host() + "/login").c_str());
  const auto took = std::chrono::steady_clock::now() - start;
  stopper.join();
  EXPECT_EQ(result, CURLE_ABORTED_BY_CALLBACK);
  EXPECT_LT(took, std::chrono::seconds(10));  // a hang check: the stall limit alone would take 30 s
  // Once set, no request starts.
  EXPECT_EQ(client.Request(("http://" + silent.Host() + "/login").c_str()), CURLE_ABORTED_BY_CALLBACK);

  // The sign-out's time limit ends it too.
  CHttpClient limited;
  limited.SetTimeLimit(300);
  EXPECT_EQ(limited.Request(("http://" + silent.Host() + "/logout").c_str()), CURLE_OPERATION_TIMEDOUT);
}
