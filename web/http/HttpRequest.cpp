#include "web/http/HttpRequest.h"

#include <strings.h>

const char* CHttpRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : Headers)
    if (::strcasecmp(key.c_str(), name.c_str()) == 0) return value.c_str();
  return nullptr;
}
