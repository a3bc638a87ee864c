#pragma once
#include <string>

struct mg_connection;
class CPartialUploads;

// "/u": stores the file parts of a multipart/form-data body in "tmp"; returns how many were saved.
int ReceiveUpload(mg_connection* conn);

// Callbacks entry 9: a file part's closing delimiter has arrived.
void OnUploadFileDone(mg_connection* conn, const char* path, int);

// Callbacks entry 11: a file part has been saved and closed; answers with the JSON reply.
void OnUploadSaved(mg_connection* conn, const char* path);

// DELETE: removes a received file and answers {"success":true}.
void DeleteLocalFile(mg_connection* conn, const std::string& uri);

// "/r": a request of the resumable upload (ResumableUpload.h) over the service's partial uploads;
// a completed file is answered and reported as a multipart upload's is. Returns 1 when a file was
// stored by this request, else 0.
int ReceiveResumableUpload(mg_connection* conn, CPartialUploads& uploads);
