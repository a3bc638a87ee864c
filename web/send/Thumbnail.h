#pragma once
// Thumbnails of pictures for the folder page, made with libgd (the only file that includes it).

#include <string>

constexpr int kThumbnailSide = 256;           // the long side at most, in pixels
constexpr size_t kMaxThumbnailBytes = 65536;  // the JPEG at most

// True for a name the folder page shows a thumbnail for: .jpg, .jpeg, .png, .webp or .gif
// (case-insensitive).
bool IsPictureName(const std::string& name);

// A JPEG of the picture at `path` (JPEG, PNG, WebP or GIF, told by its content), scaled to fit
// kThumbnailSide on its long side (never enlarged), transparency on white, at the highest quality
// that stays within kMaxThumbnailBytes. Empty when the file is not such a picture, cannot be
// decoded, is larger than 64 MiB or holds more than 40 million pixels.
std::string MakeThumbnail(const std::string& path);
// The same of the file open as `fd` (read from its start; the caller keeps and closes it).
std::string MakeThumbnailOf(int fd);
