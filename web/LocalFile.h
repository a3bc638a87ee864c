#pragma once
#include <string>

#include "web/HttpReply.h"
#include "web/HttpRequest.h"

// Any other address: a file under the working directory, when its extension is known. Not admitted
// (a received file asked for without the upload secret), the reply is exactly that of a missing file.
CHttpReply ServeLocalFile(const CHttpRequest& request, const std::string& uri, bool admitted = true);
