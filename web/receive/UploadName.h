#pragma once
// The names under which received files are stored in "tmp", and how they appear in the JSON reply.

#include <cstdint>
#include <string>

// Longest saved path ("tmp/" and the name), and longest numbered path.
constexpr size_t kMaxSavedPath = 259;
constexpr size_t kMaxNumberedPath = 255;

// The stored name for a sent file name: only the part after the last "/" or "\" (a phone's path
// never chooses the folder), control characters, bytes that are not UTF-8 and the invisible marks
// that reorder text replaced by "_", "_" put before a leading ".", and
// shortened (keeping the extension and whole characters) so that the saved path and the reply stay
// within their limits. Empty when the name cannot be stored: nothing left, or only dots.
std::string SafeUploadName(const std::string& sent);

// The name of the n-th attempt to store `name`: n < 0 gives the name itself; otherwise "base(n).ext"
// split at the last ".", or "name(n)" when there is none, shortened so that the numbered path fits.
std::string NumberedUploadName(const std::string& name, int n);

// The text as a JSON string's content: quote, backslash and control characters escaped.
std::string JsonEscape(const std::string& text);

// A stored name as the path of an address: "%", "#" and "?" percent-encoded, so that the server's
// decoding gives the name back.
std::string UrlEscapeName(const std::string& name);

// The JSON object that lists one stored file in a reply: its name, size, content type, and the
// addresses that fetch and delete it on host:port, each with the upload secret as "k" when one is given.
std::string UploadReplyEntry(const std::string& name, int64_t size, const std::string& type, const std::string& host,
                             const std::string& port, const std::string& secret = {});

// The JSON body of the reply to a stored file: its name, size, content type, and the addresses that
// fetch and delete it on host:port, each with the upload secret as "k" when one is given.
std::string UploadReplyBody(const std::string& name, int64_t size, const std::string& type, const std::string& host,
                            const std::string& port, const std::string& secret = {});
