#pragma once
// The HTTP client's cookies: learnt from a response's Set-Cookie header lines, sent back in one
// Cookie line.

#include <cstddef>
#include <map>
#include <string>

// Slots of the cookie learning: at most 8 kept lines, each of at most 1,023 characters, a name or a
// value of at most 511; longer ones are cut to their slot.
constexpr size_t kMaxCookieLines = 8;
constexpr size_t kCookieLineSlot = 1023;
constexpr size_t kCookiePartSlot = 511;

// Adds every name=value pair of the Set-Cookie lines in the header text to the jar. One spelling is
// matched per response: "set-Cookie" when it occurs at all, else "Set-Cookie". A line ends at its
// first control character, so that nothing learnt can break the request line it is sent back in.
void LearnSetCookieLines(const std::string& headerText, std::map<std::string, std::string>& jar);

// The request header line that sends the jar back: "Cookie:" and "name=value; " for each cookie.
std::string CookieLine(const std::map<std::string, std::string>& jar);
