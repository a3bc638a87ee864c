#include "web/send/AcceptLanguage.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool IsLanguage(std::string_view tag, std::string_view language) {
  if (tag.size() < language.size()) return false;
  for (size_t i = 0; i < language.size(); ++i)
    if ((tag[i] | 0x20) != language[i]) return false;
  return tag.size() == language.size() || tag[language.size()] == '-' || tag[language.size()] == '_';
}

// The q value of one range's parameters (1 when none is given, 0 when it cannot be read).
double Quality(std::string_view parameters) {
  const size_t q = parameters.find("q=");
  if (q == std::string_view::npos) return 1;
  const std::string value(Trim(parameters.substr(q + 2)));
  char* end = nullptr;
  const double quality = std::strtod(value.c_str(), &end);
  return end == value.c_str() || quality < 0 ? 0 : quality;
}

}  // namespace

bool AcceptsChinese(const char* acceptLanguage) {
  if (!acceptLanguage) return false;
  double chinese = 0, english = 0;
  std::string_view rest = acceptLanguage;
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    const std::string_view range = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    const size_t semicolon = range.find(';');
    const std::string_view tag = Trim(range.substr(0, semicolon));
    const double quality = semicolon == std::string_view::npos ? 1 : Quality(range.substr(semicolon + 1));
    // Strictly more wanted than what came before: the first named wins a tie.
    if (IsLanguage(tag, "zh") && quality > chinese && quality > english) chinese = quality;
    if ((IsLanguage(tag, "en") || tag == "*") && quality > english && quality > chinese) english = quality;
  }
  return chinese > 0 && chinese > english;
}
