#pragma once
struct mg_connection;

// "/z?t=TOKEN": the shared folder as one ZIP archive, packed once per run.
void ServeFolderArchive(mg_connection* conn, const char* query);
