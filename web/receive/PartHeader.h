#pragma once
// The header block of one part of a multipart/form-data body: which field it is, and the file name
// it carries when it is a file. Content-Disposition is read as form data defines it: parameters
// as tokens or quoted strings (a backslash before a quote or a backslash takes it as it is), names
// in any case,
// and "filename*" (charset'language'percent-encoded, UTF-8 or ISO-8859-1) in place of "filename"
// where both are given. Free of the server library.

#include <cstddef>
#include <string>

struct CPartHeader {
  std::string field;     // the "name" parameter, as sent (may hold spaces, may be empty)
  bool isFile = false;   // a "filename" or "filename*" parameter was given (its value may be empty)
  std::string fileName;  // as sent, decoded; not yet made safe (SafeUploadName does that)
};

// Reads a header block (the lines after the boundary line): lines ended by CRLF or LF, up to its
// empty line. False when the block is malformed: a line that is no
// header, no Content-Disposition, a parameter without a value, a quoted string that does not end, a
// "filename*" that cannot be decoded or decodes to a NUL.
bool ParsePartHeader(const char* block, size_t length, CPartHeader& header);
