#pragma once
#include "web/HttpReply.h"
#include "web/HttpRequest.h"

// "/f?t=TOKEN": one shared file as an attachment.
CHttpReply ServeSharedFile(const CHttpRequest& request, const char* query);
