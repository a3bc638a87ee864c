#include "web/send/TextPage.h"

#include <fstream>
#include <iterator>

#include "app/Token.h"
#include "app/Utf8Cut.h"
#include "web/send/AcceptLanguage.h"
#include "web/send/FolderPageHtml.h"

std::string TextPageHtml(const std::string& text, bool chinese, const std::string& nonce) {
  const char* copy = chinese ? "复制" : "Copy";
  const char* copied = chinese ? "已复制" : "Copied";
  const char* select = chinese ? "请长按文字选择并复制" : "Press and hold the text to select and copy it";
  std::string html = chinese ? "<!DOCTYPE html><html lang=zh-CN>" : "<!DOCTYPE html><html lang=en>";
  html +=
      "<head><meta charset=utf-8><meta name=viewport content=\"width=device-width, "
      "initial-scale=1\"><title>Marlix</title>"
      "<style>*{box-sizing:border-box}body{margin:0;font:16px/1.5 -apple-system,\"PingFang SC\",\"Microsoft YaHei\","
      "\"Noto Sans CJK SC\",\"WenQuanYi Micro Hei\",sans-serif;color:#1f2933;background:#f4f6f8}"
      "main{max-width:40rem;margin:0 auto;padding:12px}"
      "pre{white-space:pre-wrap;overflow-wrap:anywhere;background:#fff;padding:12px;border-radius:8px;margin:0 0 12px;"
      "font:inherit;user-select:text;-webkit-user-select:text}"
      "button{font:inherit;font-weight:600;min-height:48px;width:100%;border:0;border-radius:8px;background:#2f80ed;"
      "color:#fff}p{color:#52606d;font-size:.9rem}</style></head><body><main><pre id=text>";
  html += EscapeHtml(text);
  html += "</pre><button type=button id=copy>";
  html += copy;
  html += "</button><p id=state></p></main><script nonce=\"" + EscapeHtml(nonce) +
          "\">(function(){var b=document.getElementById('copy'),t=document.getElementById('text'),"
          "s=document.getElementById('state');b.addEventListener('click',function(){var a=document.createElement("
          "'textarea');a.value=t.textContent;a.setAttribute('readonly','');a.style.position='fixed';a.style.opacity="
          "'0';document.body.appendChild(a);a.select();var ok=false;try{ok=document.execCommand('copy')}catch(e){}"
          "document.body.removeChild(a);s.textContent=ok?'" +
          std::string(copied) + "':'" + select + "';});})();</script></body></html>";
  return html;
}

CHttpReply ServeTextPage(const CHttpRequest& request, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  text = CutUtf8(text, kMaxSharedText);
  const std::string nonce = MakeToken();
  CHttpReply reply = CHttpReply::Text(200, "text/html; charset=utf-8",
                                      TextPageHtml(text, AcceptsChinese(request.Header("Accept-Language")), nonce));
  reply.AddHeader("Content-Security-Policy", "sandbox allow-scripts; script-src 'nonce-" + nonce + "'");
  reply.AddHeader("X-Content-Type-Options", "nosniff");
  reply.AddHeader("Cache-Control", "no-store");
  return reply;
}
