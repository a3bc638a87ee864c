#include "web/receive/TextReceive.h"

namespace {

CHttpReply Json(int status, const std::string& body) {
  CHttpReply reply = CHttpReply::Text(status, "application/json", body);
  reply.AsHttp10 = false;
  reply.AddHeader("Cache-Control", "no-store");
  reply.AddHeader("X-Content-Type-Options", "nosniff");
  return reply;
}

}  // namespace

CHttpReply ReceiveText(CHttpRequest& request, CMainDialogView& events) {
  if (request.Method != "POST") return Json(400, "{\"error\":\"bad_form\",\"message\":\"Send the text with POST\"}");
  static const std::string tooLong = "{\"error\":\"text_too_long\",\"message\":\"The text is longer than 64 KiB\"}";
  if (request.ContentLength > static_cast<int64_t>(kMaxText)) return Json(413, tooLong);
  std::string text;
  char buffer[8192];
  for (;;) {
    const int n = request.ReadBody ? request.ReadBody(buffer, sizeof buffer) : 0;
    if (n < 0) return Json(408, "{\"error\":\"interrupted\",\"message\":\"The text did not arrive whole\"}");
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxText) return Json(413, tooLong);
  }
  if (text.empty()) return Json(400, "{\"error\":\"empty_text\",\"message\":\"The text is empty\"}");
  events.Report({.Id = ViewEventId::TextReceived, .Name = std::move(text)});
  return Json(200, "{\"success\":true}");
}
