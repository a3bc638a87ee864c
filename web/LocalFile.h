#pragma once
#include <string>

#include "web/HttpReply.h"
#include "web/HttpRequest.h"

// Any other address: a file under the working directory, when its extension is known.
CHttpReply ServeLocalFile(const CHttpRequest& request, const std::string& uri);
