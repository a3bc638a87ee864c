#pragma once
#include <string>

#include "web/HttpReply.h"
#include "web/HttpRequest.h"

class CWebService;

// "/u": stores the file parts of a multipart/form-data body in the working directory's "tmp" (the
// callbacks get each stored file's full path); `saved` tells how many were
// saved. Each saved file, and a failure, adds a JSON reply of the fixed upload header; a request that
// adds none gets no reply at all. Reads the body as it arrives: runs apart.
CHttpReply ReceiveUpload(CWebService& service, CHttpRequest& request, int& saved);

// "/r": one request of the resumable upload (ResumableUpload.h) over the service's partial uploads.
// A file made whole by it is reported and answered as a multipart upload's is (`saved` 1). Reads the
// body as it arrives: runs apart.
CHttpReply ReceiveResumableUpload(CWebService& service, CHttpRequest& request, int& saved);

// DELETE: removes a received file of the working directory `home` and answers {"success":true}.
CHttpReply DeleteLocalFile(const std::string& home, const std::string& uri);
