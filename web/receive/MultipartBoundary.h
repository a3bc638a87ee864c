#pragma once
// The boundary parameter of a multipart Content-Type value.

#include <string>

enum class BoundaryResult {
  Missing,    // no Content-Type, or no boundary parameter in it
  Malformed,  // a boundary parameter that is empty, longer than 70 characters or holds other characters
  Found,
};

// Reads the "boundary" parameter (its name in any case) of a Content-Type value: a quoted string,
// or a bare value that ends at ";" or white space. A boundary is 1 to 70 characters of digits,
// letters and '()+_,-./:=? and space (space not last); anything else is Malformed, never cut short.
BoundaryResult ParseBoundary(const char* contentType, std::string& boundary);
