#include "web/send/FolderPageHtml.h"

#include <algorithm>
#include <cstdio>

namespace {

const char kStyle[] =
    "*{box-sizing:border-box}html{-webkit-text-size-adjust:100%}"
    "body{margin:0;font:16px/1.4 -apple-system,\"PingFang SC\",\"Microsoft YaHei\",\"Noto Sans CJK SC\","
    "\"WenQuanYi Micro Hei\",sans-serif;color:#1f2933;background:#f4f6f8}"
    "main{max-width:40rem;margin:0 auto;padding:12px}"
    "h1{font-size:1.2rem;margin:4px 0 12px;overflow-wrap:anywhere}"
    "h2{font-size:.95rem;color:#52606d;margin:18px 0 6px;overflow-wrap:anywhere}"
    "a.zip{display:flex;flex-direction:column;justify-content:center;min-height:56px;padding:8px 16px;"
    "border-radius:10px;background:#2f80ed;color:#fff;text-decoration:none;text-align:center}"
    ".zl{font-weight:600;font-size:1.05rem}.zs{font-size:.85rem;opacity:.9}"
    "ul{list-style:none;margin:0;padding:0}li{margin:0 0 6px}"
    "li a{display:flex;align-items:center;gap:12px;min-height:56px;padding:6px 12px;background:#fff;"
    "border-radius:8px;color:inherit;text-decoration:none;box-shadow:0 1px 2px rgba(0,0,0,.08)}"
    ".ic{position:relative;flex:none;width:44px;height:44px;border-radius:6px;background:#e4e7eb;overflow:hidden}"
    ".ic img{position:absolute;left:0;top:0;width:100%;height:100%;object-fit:cover}"
    ".nm{flex:1 1 auto;min-width:0;overflow-wrap:anywhere}"
    ".sz{flex:none;font-size:.85rem;color:#7b8794}";

std::string Directory(const std::string& relative) {
  const size_t slash = relative.rfind('/');
  return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

}  // namespace

std::string EscapeHtml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string HumanSize(int64_t bytes) {
  static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB", "PB"};
  double n = static_cast<double>(bytes < 0 ? 0 : bytes);
  size_t unit = 0;
  while (n >= 1024 && unit + 1 < std::size(kUnits)) n /= 1024, ++unit;
  char text[32];
  if (unit == 0)
    std::snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes < 0 ? 0 : bytes));
  else
    std::snprintf(text, sizeof text, n < 10 ? "%.1f %s" : "%.0f %s", n, kUnits[unit]);
  return text;
}

std::string FolderPageHtml(const CFolderPage& page) {
  // Files at the top first, then each subfolder's files under its path, names in byte order.
  std::vector<const CFolderPageFile*> files;
  int64_t total = 0;
  for (const CFolderPageFile& f : page.files) {
    files.push_back(&f);
    total += f.size;
  }
  std::stable_sort(files.begin(), files.end(), [](const CFolderPageFile* a, const CFolderPageFile* b) {
    const std::string da = Directory(a->relativePath), db = Directory(b->relativePath);
    return da != db ? da < db : a->relativePath < b->relativePath;
  });
  const std::string count = std::to_string(page.files.size());
  const std::string summary = page.chinese
                                  ? count + " 个文件，共 " + HumanSize(total)
                                  : count + (page.files.size() == 1 ? " file, " : " files, ") + HumanSize(total);
  const std::string name = EscapeHtml(page.folderName);

  std::string html;
  html.reserve(512 + page.files.size() * 200);
  html += page.chinese ? "<!DOCTYPE html><html lang=zh-CN>" : "<!DOCTYPE html><html lang=en>";
  html += "<head><meta charset=utf-8><meta name=viewport content=\"width=device-width, initial-scale=1\"><title>";
  html += name + " - Marlix</title><style>";
  html += kStyle;
  html += "</style></head><body><main><h1>" + name + "</h1><a class=zip href=\"/z?t=" + EscapeHtml(page.archiveToken) +
          "\"><span class=zl>" + (page.chinese ? "打包下载" : "Download all as ZIP") + "</span><span class=zs>" +
          summary + "</span></a>";
  std::string folder;
  bool open = false;
  for (const CFolderPageFile* f : files) {
    const std::string dir = Directory(f->relativePath);
    if (!open || dir != folder) {
      if (open) html += "</ul>";
      if (!dir.empty()) html += "<h2>" + EscapeHtml(dir) + "/</h2>";
      html += "<ul>";
      folder = dir;
      open = true;
    }
    const std::string token = EscapeHtml(f->token);
    html += "<li><a href=\"/f?t=" + token + "\"><span class=ic>";
    if (f->picture) html += "<img src=\"/t?t=" + token + "\" loading=lazy decoding=async alt=\"\">";
    html += "</span><span class=nm>" + EscapeHtml(f->relativePath.substr(dir.empty() ? 0 : dir.size() + 1)) +
            "</span><span class=sz>" + HumanSize(f->size) + "</span></a></li>";
  }
  if (open) html += "</ul>";
  html += "</main></body></html>";
  return html;
}
