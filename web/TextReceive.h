#pragma once
// "/x": a text sent from the phone's upload page (POST, the UTF-8 text as the body), handed to the
// front ends through CWebCallbacks::OnTextReceived. Up to kMaxText bytes; longer is refused with
// 413 {"error":"text_too_long",...} and nothing is reported. Answers {"success":true}.

#include <cstddef>
#include <functional>
#include <string>

#include "web/HttpReply.h"
#include "web/HttpRequest.h"

constexpr size_t kMaxText = 64 * 1024;

CHttpReply ReceiveText(CHttpRequest& request, const std::function<void(const std::string& text)>& onText);
