#pragma once
#include <string>

#include "web/HttpReply.h"
#include "web/HttpRequest.h"

class CWebService;

// "/u": stores the file parts of a multipart/form-data body in "tmp"; `saved` tells how many were
// saved. Each saved file, and a failure, adds a JSON reply of the fixed upload header; a request that
// adds none gets no reply at all. Reads the body as it arrives: runs apart.
CHttpReply ReceiveUpload(CWebService& service, CHttpRequest& request, int& saved);

// "/r": one request of the resumable upload (ResumableUpload.h) over the service's partial uploads.
// A file made whole by it is reported and answered as a multipart upload's is (`saved` 1). Reads the
// body as it arrives: runs apart.
CHttpReply ReceiveResumableUpload(CWebService& service, CHttpRequest& request, int& saved);

// The program's callback when a file part's closing delimiter has arrived: reports FileReceived.
void OnUploadFileDone(const std::string& path);

// DELETE: removes a received file and answers {"success":true}.
CHttpReply DeleteLocalFile(const std::string& uri);
