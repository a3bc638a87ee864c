#pragma once
#include <string>

struct mg_connection;

// "/f?t=TOKEN": one shared file as an attachment.
void ServeSharedFile(mg_connection* conn, const char* query);
