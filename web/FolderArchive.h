#pragma once
#include <string>

struct mg_connection;

// "/z?t=TOKEN": the shared folder as one ZIP archive, packed once per run.
void ServeFolderArchive(mg_connection* conn, const char* query);

// The caption line's text after a packing that left `count` entries out (they could not be read).
std::string LeftOutCaption(int count);
