#pragma once
// The result codes of the archive writer and its compressor: ZIP_OK, or an error code.

#include <cstdint>

enum : uint32_t {
  ZIP_OK = 0,
  ZIP_ERR_OPEN = 0x200,       // the archive or a source file could not be created or opened
  ZIP_ERR_WRITE = 0x400,      // a write fell short, a read failed, or the compressor failed
  ZIP_ERR_CANCELLED = 0x800,  // the cancel flag was raised while the entry was added
  ZIP_ERR_ARGS = 0x10000,     // empty entry name, or a name too long for the format
  ZIP_ERR_CLOSED = 0x50000,   // the writer was already closed
};
