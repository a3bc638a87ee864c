#pragma once
// "/x": a text sent from the phone's upload page (POST, the UTF-8 text as the body), reported to the
// front end as a TextReceived event. Up to kMaxText bytes; longer is refused with
// 413 {"error":"text_too_long",...} and nothing is reported. Answers {"success":true}.

#include <cstddef>
#include <string>

#include "app/MainDialogView.h"
#include "web/http/HttpReply.h"
#include "web/http/HttpRequest.h"

constexpr size_t kMaxText = 64 * 1024;

CHttpReply ReceiveText(CHttpRequest& request, CMainDialogView& events);
