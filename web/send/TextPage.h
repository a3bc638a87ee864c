#pragma once
// "/m?t=TOKEN": a text the PC shares, shown to the phone as a page with a copy button. The text is
// HTML-escaped; the page's one script is allowed by its nonce alone, and the page is sandboxed.

#include <string>

#include "web/http/HttpReply.h"
#include "web/http/HttpRequest.h"

// The longest text shared this way.
constexpr size_t kMaxSharedText = 64 * 1024;

// The page for the text, in Chinese or English; `nonce` names the page's own script.
std::string TextPageHtml(const std::string& text, bool chinese, const std::string& nonce);

// The reply for the shared text stored in the file at `path` (at most kMaxSharedText bytes).
CHttpReply ServeTextPage(const CHttpRequest& request, const std::string& path);
