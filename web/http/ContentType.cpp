#include "web/http/ContentType.h"

#include <strings.h>

namespace {

struct ContentTypeRow {
  const char* extension;
  const char* type;
};

const ContentTypeRow ContentTypeTable[] = {
    {".html", "text/html"},
    {".htm", "text/html"},
    {".shtm", "text/html"},
    {".shtml", "text/html"},
    {".css", "text/css"},
    {".js", "application/x-javascript"},
    {".ico", "image/x-icon"},
    {".gif", "image/gif"},
    {".jpg", "image/jpeg"},
    {".jpeg", "image/jpeg"},
    {".png", "image/png"},
    {".svg", "image/svg+xml"},
    {".txt", "text/plain"},
    {".torrent", "application/x-bittorrent"},
    {".wav", "audio/x-wav"},
    {".mp3", "audio/x-mp3"},
    {".mid", "audio/mid"},
    {".m3u", "audio/x-mpegurl"},
    {".ogg", "audio/ogg"},
    {".ram", "audio/x-pn-realaudio"},
    {".xml", "text/xml"},
    {".json", "text/json"},
    {".xslt", "application/xml"},
    {".xsl", "application/xml"},
    {".ra", "audio/x-pn-realaudio"},
    {".doc", "application/msword"},
    {".exe", "application/octet-stream"},
    {".zip", "application/x-zip-compressed"},
    {".xls", "application/excel"},
    {".tgz", "application/x-tar-gz"},
    {".tar", "application/x-tar"},
    {".gz", "application/x-gunzip"},
    {".arj", "application/x-arj-compressed"},
    {".rar", "application/x-arj-compressed"},
    {".rtf", "application/rtf"},
    {".pdf", "application/pdf"},
    {".swf", "application/x-shockwave-flash"},
    {".mpg", "video/mpeg"},
    {".webm", "video/webm"},
    {".mpeg", "video/mpeg"},
    {".mp4", "video/mp4"},
    {".m4v", "video/x-m4v"},
    {".asf", "video/x-ms-asf"},
    {".avi", "video/x-msvideo"},
    {".bmp", "image/bmp"},
};

static_assert(sizeof ContentTypeTable / sizeof ContentTypeTable[0] == 45);

}  // namespace

const char* LookupContentType(const std::string& name) {
  for (const ContentTypeRow& row : ContentTypeTable) {
    const size_t extLen = std::char_traits<char>::length(row.extension);
    if (name.size() > extLen && strcasecmp(name.c_str() + name.size() - extLen, row.extension) == 0) {
      return row.type;
    }
  }
  return nullptr;
}
