#include "relay/UploadFrame.h"

namespace {

bool ReadU32(const CReadExactly& read, uint32_t& value) {
  unsigned char b[4];
  if (!read(reinterpret_cast<char*>(b), 4)) return false;
  value = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | uint32_t{b[3]};
  return true;
}

void AppendU32(std::string& out, uint32_t v) {
  out += static_cast<char>(v >> 24);
  out += static_cast<char>(v >> 16);
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v);
}

}  // namespace

std::string ReadUploadFrameHead(const CReadExactly& read, CUploadFrame& frame) {
  uint32_t tokenLength = 0, nameLength = 0;
  if (!ReadU32(read, tokenLength) || tokenLength == 0 || tokenLength > kMaxTokenBytes) return "bad token length";
  frame.token.assign(tokenLength, '\0');
  if (!read(frame.token.data(), tokenLength) || !IsSafeToken(frame.token)) return "bad token";
  if (!ReadU32(read, nameLength) || nameLength == 0 || nameLength > kMaxNameBytes) return "bad name length";
  frame.name.assign(nameLength, '\0');
  if (!read(frame.name.data(), nameLength) || !IsSafeName(frame.name)) return "bad name";
  if (!ReadU32(read, frame.size)) return "bad size";
  return {};
}

std::string UploadFrameHead(const CUploadFrame& frame) {
  std::string out;
  AppendU32(out, static_cast<uint32_t>(frame.token.size()));
  out += frame.token;
  AppendU32(out, static_cast<uint32_t>(frame.name.size()));
  out += frame.name;
  AppendU32(out, frame.size);
  return out;
}
