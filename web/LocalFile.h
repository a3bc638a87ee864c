#pragma once
#include <string>

struct mg_connection;

// Any other address: a file under the working directory, when its extension is known.
void ServeLocalFile(mg_connection* conn, const std::string& uri);
