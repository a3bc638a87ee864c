// "1.bmp": header fields, size, pixels and row order, decoded by zbarimg; the fatal failures.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "qr/QrBitmap.h"
#include "support/TestEnv.h"

namespace fs = std::filesystem;
using marlix_test::CTempWorkDir;
using marlix_test::ReadFile;
using marlix_test::WriteFile;

namespace {

uint32_t Get32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
  return v;
}

uint16_t Get16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

std::string Decode(const fs::path& file) {
  std::string out;
  FILE* p = ::popen(("zbarimg -q --raw --nodbus '" + file.string() + "' 2>/dev/null").c_str(), "r");
  if (!p) return out;
  char buf[1024];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// The image as read back: side in pixels and whether a module (x, y) is dark, from its 8 x 8 block.
struct Image {
  std::string bytes;
  int side = 0;
  int Modules() const { return side / 8; }
  const uint8_t* Pixel(int px, int py) const {
    return reinterpret_cast<const uint8_t*>(bytes.data()) + 54 + (static_cast<size_t>(py) * side + px) * 3;
  }
  bool Dark(int x, int y) const { return Pixel(8 * x, 8 * y)[0] == 0; }
};

// Dark where the 7 x 7 finder pattern has its outer ring and its 3 x 3 core.
bool FinderDark(int dx, int dy) {
  const bool ring = dx == 0 || dy == 0 || dx == 6 || dy == 6;
  const bool core = dx >= 2 && dx <= 4 && dy >= 2 && dy <= 4;
  return ring || core;
}

bool FinderAt(const Image& img, int x0, int y0) {
  for (int dy = 0; dy < 7; ++dy)
    for (int dx = 0; dx < 7; ++dx)
      if (img.Dark(x0 + dx, y0 + dy) != FinderDark(dx, dy)) return false;
  return true;
}

// Generates the image of the text as "1.bmp" of the folder and checks everything that does not depend
// on the symbol's content.
Image GenerateAndCheck(const CTempWorkDir& dir, const std::string& text) {
  Image img;
  const fs::path file = dir.Path() / "1.bmp";
  EXPECT_EQ(GenerateQrBitmap(text, file), 0);
  img.bytes = ReadFile(file);
  const std::string& b = img.bytes;
  if (b.size() < 54) {
    ADD_FAILURE() << "no image";
    return img;
  }
  EXPECT_EQ(b.substr(0, 2), "BM");
  EXPECT_EQ(Get32(b, 2), b.size());
  EXPECT_EQ(Get16(b, 6), 0);
  EXPECT_EQ(Get16(b, 8), 0);
  EXPECT_EQ(Get32(b, 10), 54u);
  EXPECT_EQ(Get32(b, 14), 40u);
  const int width = static_cast<int>(Get32(b, 18));
  const int height = static_cast<int32_t>(Get32(b, 22));
  EXPECT_EQ(height, -width) << "rows must run top to bottom";
  EXPECT_EQ(Get16(b, 26), 1);
  EXPECT_EQ(Get16(b, 28), 24);
  for (size_t at = 30; at < 54; at += 4) EXPECT_EQ(Get32(b, at), 0u) << "offset " << at;

  img.side = width;
  const int w = width / 8;
  EXPECT_EQ(width % 8, 0);
  EXPECT_EQ((w - 17) % 4, 0) << "not a QR width: " << w;
  EXPECT_EQ(b.size(), 54u + 192u * w * w);
  if (b.size() != 54u + 192u * w * w) return img;

  // Only black and white, each module a uniform 8 x 8 block.
  bool uniform = true;
  for (int py = 0; py < width && uniform; ++py)
    for (int px = 0; px < width && uniform; ++px) {
      const uint8_t* p = img.Pixel(px, py);
      const uint8_t* m = img.Pixel(px / 8 * 8, py / 8 * 8);
      uniform = (p[0] == 0 || p[0] == 0xFF) && p[0] == p[1] && p[1] == p[2] && p[0] == m[0];
    }
  EXPECT_TRUE(uniform);

  // No quiet zone: the top-left corner module is dark from the first byte; the finder patterns sit
  // top left, top right (in the top rows, so the rows are not mirrored) and bottom left.
  EXPECT_EQ(b.substr(54, 24), std::string(24, '\0'));
  EXPECT_TRUE(FinderAt(img, 0, 0));
  EXPECT_TRUE(FinderAt(img, w - 7, 0)) << "top-right finder pattern missing from the top rows";
  EXPECT_TRUE(FinderAt(img, 0, w - 7));
  EXPECT_FALSE(FinderAt(img, w - 7, w - 7));
  for (int i = 0; i < 8; ++i) EXPECT_FALSE(img.Dark(w - 8, i)) << "separator of the top-right finder";

  EXPECT_EQ(Decode(file), text);
  return img;
}

struct ChildResult {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;
};

// Runs fn in a child process with its standard output captured.
ChildResult RunInChild(const std::function<void()>& fn) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    try {
      fn();
    } catch (const std::exception& e) {
      std::printf("exception: %s\n", e.what());
    }
    std::fflush(stdout);
    ::_exit(0);
  }
  ::close(fds[1]);
  ChildResult r;
  char buf[256];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
  return r;
}

}  // namespace

TEST(QrBitmap, AddressOfTheShareLinkIsVersionFour) {
  CTempWorkDir dir;
  const Image img = GenerateAndCheck(dir, "http://192.168.1.5:8081/f?t=1A2B3C4D");
  EXPECT_EQ(img.Modules(), 33);
  EXPECT_EQ(img.bytes.size(), 209142u);
}

TEST(QrBitmap, ShortAndLongAddressesDecode) {
  CTempWorkDir dir;
  EXPECT_EQ(GenerateAndCheck(dir, "http://").Modules(), 21);
  // Up to 34 bytes fit version 4 at level H.
  EXPECT_LE(GenerateAndCheck(dir, "http://192.168.100.200:8081/f?t=AB").Modules(), 33);
  EXPECT_GE(GenerateAndCheck(dir, "http://marlix.example/upload/page.html").Modules(), 37);
  // Case and every byte are kept as passed.
  GenerateAndCheck(dir, "http://10.0.0.7:8085/index.html?Name=MiXeD&x=%20~");
  std::string longer = "http://203.0.113.77:8090/d?t=";
  while (longer.size() < 80) longer += "0123456789ABCDEF";
  EXPECT_GE(GenerateAndCheck(dir, longer).Modules(), 45);  // version 7 and beyond
  std::string longest = "http://192.168.1.5:8081/f?t=";
  while (longest.size() < 511) longest += "a1B2c3D4e5";
  longest.resize(511);
  EXPECT_GT(GenerateAndCheck(dir, longest).Modules(), 57);
}

TEST(QrBitmap, OverwritesAnOlderLargerFile) {
  CTempWorkDir dir;
  WriteFile(dir.Path() / "1.bmp", std::string(1 << 20, 'x'));
  const Image img = GenerateAndCheck(dir, "http://192.168.1.5:8081/index.html");
  EXPECT_EQ(fs::file_size(dir.Path() / "1.bmp"), 54u + 192u * img.Modules() * img.Modules());
}

TEST(QrBitmapFailure, EmptyTextEndsTheProcess) {
  CTempWorkDir dir;
  const fs::path file = dir.Path() / "1.bmp";
  const ChildResult r = RunInChild([&] { GenerateQrBitmap("", file); });
  EXPECT_EQ(r.out, "NULL returned\n");
  EXPECT_EQ(r.status, 255);  // exit(-1)
  EXPECT_FALSE(fs::exists(file));
}

TEST(QrBitmapFailure, UnwritableFileEndsTheProcess) {
  CTempWorkDir dir;
  const fs::path file = dir.Path() / "1.bmp";
  fs::create_directory(file);  // cannot be opened as a file, not even by root
  const ChildResult r = RunInChild([&] { GenerateQrBitmap("http://192.168.1.5:8081/f?t=1A2B3C4D", file); });
  EXPECT_EQ(r.out, "Unable to open file\n");
  EXPECT_EQ(r.status, 255);
}

TEST(QrBitmapFailure, PixelBufferThatCannotBeAllocatedEndsTheProcess) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#else
  CTempWorkDir dir;
  const std::string file = (dir.Path() / "1.bmp").string();  // made before the limit is set
  std::string text = "http://192.168.1.5:8081/f?t=";
  while (text.size() < 1100) text += "a1B2c3D4e5";
  // The symbol of 1100 bytes needs about 4.6 MB of pixels, more than any earlier test freed; leave
  // the process 1 MB more than it has.
  const ChildResult r = RunInChild([&] {
    long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
      std::fclose(f);
    }
    const rlim_t limit = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (1 << 20);
    const rlimit lim{limit, limit};
    ::setrlimit(RLIMIT_AS, &lim);
    GenerateQrBitmap(text, file);
  });
  EXPECT_EQ(r.out, "Out of memory\n");
  EXPECT_EQ(r.status, 255);
#endif
}
