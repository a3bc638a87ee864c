#include "web/Upload.h"

// Filled in with the upload receiver.
int ReceiveUpload(mg_connection*) { return 0; }
void OnUploadFileDone(mg_connection*, const char*, int) {}
void OnUploadSaved(mg_connection*, const char*) {}
void DeleteLocalFile(mg_connection*, const std::string&) {}
