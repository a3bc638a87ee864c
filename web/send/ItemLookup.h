#pragma once
#include <string>

struct SharedState;

// The shared item a query names: the token is everything after the first "=", which must not be the
// query's first character. Returns the full path, or empty when nothing is shared under it.
std::string LookupItem(SharedState& state, const char* query);
