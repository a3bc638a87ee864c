#pragma once
#include <string>

// Bits of randomness in one token.
constexpr int kTokenBits = 128;

// A new token: 128 bits from the system's cryptographic random source, written as 22 characters of
// the URL-safe base64 alphabet (A-Z a-z 0-9 - _) without padding; empty when the source fails.
std::string MakeToken();
