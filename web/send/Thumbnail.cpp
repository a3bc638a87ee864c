#include "web/send/Thumbnail.h"

#include <fcntl.h>
#include <gd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>

namespace {

constexpr int64_t kMaxFileBytes = 64 * 1024 * 1024;
constexpr int64_t kMaxPixels = 40 * 1000 * 1000;
const int kQualities[] = {82, 70, 58, 46, 34, 22, 10};

enum class Format { None, Jpeg, Png, Gif, Webp };

uint32_t Be16(const std::string& s, size_t i) {
  return (static_cast<uint8_t>(s[i]) << 8) | static_cast<uint8_t>(s[i + 1]);
}
uint32_t Be32(const std::string& s, size_t i) { return (Be16(s, i) << 16) | Be16(s, i + 2); }
uint32_t Le16(const std::string& s, size_t i) {
  return static_cast<uint8_t>(s[i]) | (static_cast<uint8_t>(s[i + 1]) << 8);
}
uint32_t Le24(const std::string& s, size_t i) { return Le16(s, i) | (static_cast<uint8_t>(s[i + 2]) << 16); }

Format FormatOf(const std::string& s) {
  if (s.size() >= 3 && s.compare(0, 3, "\xFF\xD8\xFF") == 0) return Format::Jpeg;
  if (s.size() >= 24 && s.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0) return Format::Png;
  if (s.size() >= 10 && s.compare(0, 4, "GIF8") == 0) return Format::Gif;
  if (s.size() >= 30 && s.compare(0, 4, "RIFF") == 0 && s.compare(8, 4, "WEBP") == 0) return Format::Webp;
  return Format::None;
}

// The picture's size from its header, read before decoding so that no picture can make the decoder
// take more memory than a large photo needs. False when the header does not tell it.
bool HeaderSize(const std::string& s, Format format, int64_t& w, int64_t& h) {
  switch (format) {
    case Format::Png:
      w = Be32(s, 16), h = Be32(s, 20);
      return true;
    case Format::Gif:
      w = Le16(s, 6), h = Le16(s, 8);
      return true;
    case Format::Webp:
      if (s.compare(12, 4, "VP8X") == 0) {
        w = Le24(s, 24) + 1, h = Le24(s, 27) + 1;
      } else if (s.compare(12, 4, "VP8L") == 0) {
        const uint32_t bits = static_cast<uint8_t>(s[21]) | (static_cast<uint8_t>(s[22]) << 8) |
                              (static_cast<uint8_t>(s[23]) << 16) |
                              (static_cast<uint32_t>(static_cast<uint8_t>(s[24])) << 24);
        w = (bits & 0x3FFF) + 1, h = ((bits >> 14) & 0x3FFF) + 1;
      } else if (s.compare(12, 4, "VP8 ") == 0) {
        w = Le16(s, 26) & 0x3FFF, h = Le16(s, 28) & 0x3FFF;
      } else {
        return false;
      }
      return true;
    case Format::Jpeg:
      // The first start-of-frame marker (SOF0 to SOF15 but DHT, JPG and DAC) gives the size.
      for (size_t i = 2; i + 9 < s.size();) {
        if (static_cast<uint8_t>(s[i]) != 0xFF) return false;
        const uint8_t marker = static_cast<uint8_t>(s[i + 1]);
        if (marker == 0xFF) {
          ++i;
          continue;
        }
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
          h = Be16(s, i + 5), w = Be16(s, i + 7);
          return true;
        }
        i += 2 + Be16(s, i + 2);
      }
      return false;
    case Format::None:
      break;
  }
  return false;
}

struct CImageFree {
  void operator()(gdImagePtr image) const { gdImageDestroy(image); }
};
using CImage = std::unique_ptr<gdImage, CImageFree>;

CImage Decode(std::string& bytes, Format format) {
  const int size = static_cast<int>(bytes.size());
  void* data = bytes.data();
  switch (format) {
    case Format::Jpeg:
      return CImage(gdImageCreateFromJpegPtrEx(size, data, 1));
    case Format::Png:
      return CImage(gdImageCreateFromPngPtr(size, data));
    case Format::Gif:
      return CImage(gdImageCreateFromGifPtr(size, data));
    case Format::Webp:
      return CImage(gdImageCreateFromWebpPtr(size, data));
    case Format::None:
      break;
  }
  return nullptr;
}

}  // namespace

bool IsPictureName(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == "jpg" || ext == "jpeg" || ext == "png" || ext == "webp" || ext == "gif";
}

std::string MakeThumbnail(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  std::string made = MakeThumbnailOf(fd);
  ::close(fd);
  return made;
}

std::string MakeThumbnailOf(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 || st.st_size > kMaxFileBytes) return {};
  const auto length = static_cast<size_t>(st.st_size);
  std::string bytes(length, '\0');
  for (size_t got = 0; got < length;) {
    const ssize_t n = ::pread(fd, bytes.data() + got, length - got, static_cast<off_t>(got));
    if (n <= 0) return {};  // shorter than it was, or unreadable
    got += static_cast<size_t>(n);
  }

  const Format format = FormatOf(bytes);
  int64_t w = 0, h = 0;
  if (format == Format::None || !HeaderSize(bytes, format, w, h) || w <= 0 || h <= 0 || w * h > kMaxPixels) return {};
  const CImage source = Decode(bytes, format);
  if (!source) return {};
  const int sw = gdImageSX(source.get()), sh = gdImageSY(source.get());
  if (sw <= 0 || sh <= 0) return {};
  const double scale = std::min(1.0, static_cast<double>(kThumbnailSide) / std::max(sw, sh));
  const int tw = std::max(1, static_cast<int>(sw * scale + 0.5)), th = std::max(1, static_cast<int>(sh * scale + 0.5));
  const CImage thumb(gdImageCreateTrueColor(tw, th));
  if (!thumb) return {};
  gdImageFilledRectangle(thumb.get(), 0, 0, tw - 1, th - 1, gdTrueColor(255, 255, 255));
  gdImageAlphaBlending(thumb.get(), 1);
  gdImageCopyResampled(thumb.get(), source.get(), 0, 0, 0, 0, tw, th, sw, sh);
  for (const int quality : kQualities) {
    int size = 0;
    void* jpeg = gdImageJpegPtr(thumb.get(), &size, quality);
    if (!jpeg) return {};
    std::string out(static_cast<const char*>(jpeg), static_cast<size_t>(size));
    gdFree(jpeg);
    if (out.size() <= kMaxThumbnailBytes) return out;
  }
  return {};
}
