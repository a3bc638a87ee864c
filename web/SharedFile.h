#pragma once
#include "web/HttpReply.h"
#include "web/HttpRequest.h"

class CWebService;

// "/f?t=TOKEN": one shared file as an attachment.
CHttpReply ServeSharedFile(CWebService& service, const CHttpRequest& request, const char* query);
