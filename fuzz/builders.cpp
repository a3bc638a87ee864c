// The Content-Disposition and folder-page builders. Any attachment name gives one header value
// without control characters whose quoted name and percent-encoded name both read back to the name;
// any tokens and link texts give a folder page with exactly the markup of the page itself.
// The input: the attachment name, then NUL-separated token, file token, link text, file token, ...

#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "web/AttachmentDisposition.h"
#include "web/FolderPage.h"

namespace {

void CheckDisposition(const std::string& name) {
  const std::string value = AttachmentDisposition(name);
  FUZZ_CHECK(!fuzz::HasControl(value));
  const std::string head = "attachment;filename=\"";
  FUZZ_CHECK(value.compare(0, head.size(), head) == 0);
  std::string quoted;
  size_t i = head.size();
  for (; i < value.size() && value[i] != '"'; ++i) {
    if (value[i] == '\\') {
      ++i;
      FUZZ_CHECK(i < value.size() && (value[i] == '"' || value[i] == '\\'));
    }
    quoted += value[i];
  }
  FUZZ_CHECK(i < value.size());
  std::string expected = name;
  for (char& c : expected)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  FUZZ_CHECK(quoted == expected);
  const std::string ext = "\";filename*=UTF-8''";
  FUZZ_CHECK(value.compare(i, ext.size(), ext) == 0);
  std::string decoded;
  for (size_t k = i + ext.size(); k < value.size(); ++k) {
    const char c = value[k];
    FUZZ_CHECK(c != '"' && c != ';' && c != ' ' && c != '\\' && c != '\'');
    if (c == '%') {
      FUZZ_CHECK(k + 2 < value.size() && std::isxdigit(static_cast<unsigned char>(value[k + 1])) &&
                 std::isxdigit(static_cast<unsigned char>(value[k + 2])));
      decoded += static_cast<char>(std::stoi(value.substr(k + 1, 2), nullptr, 16));
      k += 2;
    } else {
      decoded += c;
    }
  }
  FUZZ_CHECK(decoded == name);
}

size_t Markup(const std::string& page) {
  size_t n = 0;
  for (char c : page) n += c == '<' || c == '>' || c == '"' || c == '\'';
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> fields;
  for (size_t at = 0;;) {
    const size_t nul = input.find('\0', at);
    fields.push_back(input.substr(at, nul == std::string::npos ? std::string::npos : nul - at));
    if (nul == std::string::npos) break;
    at = nul + 1;
  }
  CheckDisposition(fields[0]);
  const std::string token = fields.size() > 1 ? fields[1] : "";
  std::vector<std::pair<std::string, std::string>> links, empty;
  for (size_t k = 2; k + 1 < fields.size(); k += 2) {
    links.emplace_back(fields[k], fields[k + 1]);
    empty.emplace_back("", "");
  }
  for (bool chinese : {true, false})
    FUZZ_CHECK(Markup(FolderPageHtml(token, links, chinese)) == Markup(FolderPageHtml("", empty, chinese)));
  return 0;
}
