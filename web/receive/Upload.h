#pragma once
#include <string>

#include "web/http/HttpReply.h"
#include "web/http/HttpRequest.h"

struct SharedState;
class CPartialUploads;

// "/u": stores the file parts of a multipart/form-data body in the state's working directory's "tmp" (each
// stored file is reported: FileReceived, then FileStored); `saved` tells how many were saved. Each file is
// written under a hidden name and takes its own name only when whole. One JSON reply with the fixed
// upload header lists every file part in order, stored or failed (the status tells whether one
// failed); a request without a multipart Content-Type gets no reply at all. Reads the body as it
// arrives. The room left on the disk is less what `partials` have booked.
CHttpReply ReceiveUpload(SharedState& state, CPartialUploads& partials, CHttpRequest& request, int& saved);

// "/r": one request of the resumable upload (ResumableUpload.h) over `partials`.
// A file made whole by it is reported and answered as a multipart upload's is (`saved` 1). Reads the
// body as it arrives.
CHttpReply ReceiveResumableUpload(SharedState& state, CPartialUploads& partials, CHttpRequest& request, int& saved);

// DELETE: removes a whole received file (a regular file directly inside "tmp" of the working directory
// `home`, not a link, not a dot-name) and answers {"success":true}; anything else is left alone and
// answered as a missing file.
CHttpReply DeleteLocalFile(const std::string& home, const CHttpRequest& request, const std::string& uri);
