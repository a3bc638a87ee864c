#include "qr/QrBitmap.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qr/QrCode.h"

namespace {

constexpr int kModulePixels = 8;
constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;

void Put16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The generation's failures are fatal: one line on standard output and status -1.
[[noreturn]] void Fail(const char* message) {
  std::printf("%s\n", message);
  std::fflush(stdout);
  std::exit(-1);
}

}  // namespace

int GenerateQrBitmap(const std::string& address, const std::string& path) {
  CQrMatrix qr;
  if (!EncodeQr(address, qr)) Fail("NULL returned");

  const uint32_t width = static_cast<uint32_t>(qr.width);
  const uint32_t side = kModulePixels * width;
  const uint32_t rowBytes = (3 * side + 3) / 4 * 4;  // 24 x W: already a multiple of 4
  const size_t dataSize = static_cast<size_t>(rowBytes) * side;

  uint8_t* pixels = static_cast<uint8_t*>(std::malloc(dataSize));
  if (!pixels) Fail("Out of memory");
  std::memset(pixels, 0xFF, dataSize);

  // Rows are stored top row first (negative height), so module row y starts at pixel row 8y.
  for (int y = 0; y < qr.width; ++y) {
    for (int x = 0; x < qr.width; ++x) {
      if (!qr.At(x, y)) continue;
      for (int py = 0; py < kModulePixels; ++py) {
        uint8_t* row = pixels + static_cast<size_t>(kModulePixels * y + py) * rowBytes;
        std::memset(row + 3 * kModulePixels * x, 0x00, 3 * kModulePixels);
      }
    }
  }

  uint8_t fileHeader[kFileHeaderSize] = {};
  Put16(fileHeader + 0, 0x4D42);  // "BM"
  Put32(fileHeader + 2, static_cast<uint32_t>(kFileHeaderSize + kInfoHeaderSize + dataSize));
  Put32(fileHeader + 10, kFileHeaderSize + kInfoHeaderSize);

  uint8_t infoHeader[kInfoHeaderSize] = {};
  Put32(infoHeader + 0, kInfoHeaderSize);
  Put32(infoHeader + 4, side);
  Put32(infoHeader + 8, static_cast<uint32_t>(-static_cast<int32_t>(side)));
  Put16(infoHeader + 12, 1);   // planes
  Put16(infoHeader + 14, 24);  // bits per pixel
  // Compression, image size, resolutions and colour counts stay 0.

  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) Fail("Unable to open file");
  std::fwrite(fileHeader, 1, sizeof fileHeader, file);
  std::fwrite(infoHeader, 1, sizeof infoHeader, file);
  std::fwrite(pixels, 1, dataSize, file);
  std::fclose(file);

  std::free(pixels);
  return 0;
}
