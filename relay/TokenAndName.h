#pragma once
// What the relay accepts as an upload's token and its file's name, from the client's frame and from
// the storage folder's records alike. Pure functions, any thread.

#include <cstddef>
#include <string>

constexpr size_t kMinTokenBytes = 22;  // 128 bits in the URL-safe alphabet
constexpr size_t kMaxTokenBytes = 64;
constexpr size_t kMaxNameBytes = 511;

// A token is kMinTokenBytes to kMaxTokenBytes characters of the URL-safe alphabet (letters, digits,
// '-', '_'): at least the 128 random bits of a client's token.
bool IsSafeToken(const std::string& token);
// A stored file's name is safe when it is 1 to kMaxNameBytes bytes, not "." or "..", and holds no
// '/', '\\' or control character.
bool IsSafeName(const std::string& name);
