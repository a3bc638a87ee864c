#pragma once
// The framing of an upload to the relay: u32 token length, token, u32 name length, name (UTF-8),
// u32 size, then the content; lengths big-endian.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "relay/TokenAndName.h"

struct CUploadFrame {
  std::string token;
  std::string name;
  uint32_t size = 0;  // bytes of content that follow the frame's head
};

// Reads exactly `count` bytes into `into`; false when the body ends or fails first.
using CReadExactly = std::function<bool(char* into, size_t count)>;

// Reads the frame's head (everything before the content). Returns empty on success, else why the
// frame is refused ("bad token length", "bad token", "bad name length", "bad name", "bad size").
std::string ReadUploadFrameHead(const CReadExactly& read, CUploadFrame& frame);

// The head as the client sends it; the frame's lengths come from its token and name.
std::string UploadFrameHead(const CUploadFrame& frame);
