#pragma once
#include <string>

#include "web/http/HttpReply.h"
#include "web/http/HttpRequest.h"

// Any other address: a file under the working directory `home`, when its extension is known. Not admitted
// (a received file asked for without the upload secret), the reply is exactly that of a missing file.
CHttpReply ServeLocalFile(const std::string& home, const CHttpRequest& request, const std::string& uri,
                          bool admitted = true);

// The reply to a request refused as if nothing were there: exactly that of a missing file of the
// name, or of a missing plain-text file for a name of no known type.
CHttpReply MissingFileReply(const std::string& home, const CHttpRequest& request, const std::string& uri);
