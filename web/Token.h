#pragma once
#include <string>

// A new token: eight upper-case hexadecimal digits from a cryptographic random source;
// empty when the source fails.
std::string MakeToken();
