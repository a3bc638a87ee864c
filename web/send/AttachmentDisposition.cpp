#include "web/send/AttachmentDisposition.h"

#include "web/http/PercentCodec.h"

std::string AttachmentDisposition(const std::string& name) {
  std::string value = "attachment;filename=\"";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      value += '_';
    } else {
      if (c == '"' || c == '\\') value += '\\';
      value += static_cast<char>(c);
    }
  }
  return value + "\";filename*=UTF-8''" + PercentEncode(name, IsAttrCharByte);
}
