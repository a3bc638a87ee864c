// The Content-Disposition and folder-page builders. Any attachment name gives one header value
// without control characters whose quoted name and percent-encoded name both read back to the name;
// any tokens, names and paths give a folder page with exactly the markup of the page itself.
// The input: the attachment name, then NUL-separated archive token, folder name, file token,
// relative path, file token, ...

#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "web/send/AttachmentDisposition.h"
#include "web/send/FolderPageHtml.h"

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

// The text with the four markup characters (and the escape byte) replaced one to one by sequences
// of none of them: the same folder structure, names that can add no markup.
std::string Plain(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "\x01L";
        break;
      case '>':
        out += "\x01G";
        break;
      case '"':
        out += "\x01Q";
        break;
      case '\'':
        out += "\x01A";
        break;
      case '\x01':
        out += "\x01\x01";
        break;
      default:
        out += c;
    }
  }
  return out;
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
  // Any token, names and sizes add no markup of their own to the folder page.
  CFolderPage page, plain;
  page.archiveToken = fields.size() > 1 ? fields[1] : "";
  plain.archiveToken = Plain(page.archiveToken);
  page.folderName = fields.size() > 2 ? fields[2] : "";
  plain.folderName = Plain(page.folderName);
  for (size_t k = 3; k + 1 < fields.size(); k += 2) {
    const CFolderPageFile file{fields[k], fields[k + 1], static_cast<int64_t>(k) << (k % 40), k % 4 == 1};
    page.files.push_back(file);
    plain.files.push_back({Plain(file.token), Plain(file.relativePath), file.size, file.picture});
  }
  for (bool chinese : {true, false}) {
    page.chinese = plain.chinese = chinese;
    FUZZ_CHECK(Markup(FolderPageHtml(page)) == Markup(FolderPageHtml(plain)));
  }
  return 0;
}
