// Thumbnails: within 256 px and 64 KB for pictures of every format and any size, none for what
// cannot be decoded or would take too much memory to decode; a shared folder's pictures and files
// reached through no link.

#include <gd.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "support/TestEnv.h"
#include "web/send/Thumbnail.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

// A picture of noise (the hardest to compress) in the given format.
std::string Picture(const std::string& format, int w, int h) {
  gdImagePtr image = gdImageCreateTrueColor(w, h);
  std::mt19937 random(7);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) gdImageSetPixel(image, x, y, static_cast<int>(random() & 0xFFFFFF));
  int size = 0;
  void* data = format == "jpg"   ? gdImageJpegPtr(image, &size, 95)
               : format == "png" ? gdImagePngPtr(image, &size)
               : format == "gif" ? gdImageGifPtr(image, &size)
                                 : gdImageWebpPtr(image, &size);
  std::string bytes(static_cast<const char*>(data), static_cast<size_t>(size));
  gdFree(data);
  gdImageDestroy(image);
  return bytes;
}

}  // namespace

TEST(Thumbnail, FitsItsBoundsOrIsNone) {
  CTempWorkDir dir;
  struct Case {
    std::string name;
    int w, h;
    int longSide;  // expected; 0 for no thumbnail
  };
  const Case cases[] = {
      {"wide.jpg", 2400, 1200, 256},
      {"tall.PNG", 300, 900, 256},
      {"small.gif", 40, 30, 40},
      {"photo.webp", 1000, 1000, 256},
  };
  for (const Case& c : cases) {
    std::string format = c.name.substr(c.name.rfind('.') + 1);
    if (format == "PNG") format = "png";
    WriteFile(dir.Path() / c.name, Picture(format, c.w, c.h));
    EXPECT_TRUE(IsPictureName(c.name)) << c.name;
    std::string thumb = MakeThumbnail(dir.Path() / c.name);
    ASSERT_FALSE(thumb.empty()) << c.name;
    EXPECT_LE(thumb.size(), kMaxThumbnailBytes) << c.name;
    gdImagePtr image = gdImageCreateFromJpegPtr(static_cast<int>(thumb.size()), thumb.data());
    ASSERT_NE(image, nullptr) << c.name;
    EXPECT_EQ(std::max(gdImageSX(image), gdImageSY(image)), c.longSide) << c.name;
    gdImageDestroy(image);
  }
  // Not a picture, a broken one, and one whose header asks for 10^10 pixels.
  WriteFile(dir.Path() / "notes.jpg", "just text");
  std::string cut = Picture("png", 500, 500);
  WriteFile(dir.Path() / "cut.png", cut.substr(0, cut.size() / 3));
  std::string huge = Picture("png", 10, 10);
  huge.replace(16, 8, std::string("\x00\x01\x86\xA0\x00\x01\x86\xA0", 8));
  WriteFile(dir.Path() / "huge.png", huge);
  for (const char* name : {"notes.jpg", "cut.png", "huge.png", "missing.jpg"})
    EXPECT_EQ(MakeThumbnail(dir.Path() / name), "") << name;
  EXPECT_FALSE(IsPictureName("movie.mp4"));
}

// A shared folder's file is reached from the folder, through no link: one put in the place of a
// listed file, or of a subfolder on its way, since the page was listed leads to nothing, for the
// download and for the thumbnail alike.
TEST(FolderFileExposure, ALinkPutOnAListedPathLeadsNowhere) {
  CTestServer server;
  const fs::path trip = server.Dir() / "Trip";
  const fs::path outside = server.Dir() / "outside";
  for (const fs::path& p : {trip / "a.png", trip / "sub/b.png", outside / "a.png", outside / "b.png"})
    WriteFile(p, Picture("png", 20, 20));
  server.State().InsertItem("1A2B3C4D", trip.string());
  server.State().InsertItem("5E6F7A8B", trip.string() + "/");  // the same, named with a slash at its end
  const auto get = [&](const std::string& target) {
    std::string head, body;
    SplitReply(RawRequest(server.Port(), "GET " + target + " HTTP/1.0\r\n\r\n"), head, body);
    return body;
  };
  std::vector<std::string> tokens;
  for (const std::string& page : {get("/d?t=1A2B3C4D"), get("/d?t=5E6F7A8B")})
    for (size_t at = page.find("href=\"/f?t="); at != std::string::npos; at = page.find("href=\"/f?t=", at + 1))
      tokens.push_back(page.substr(at + 11, page.find('"', at + 11) - at - 11));
  ASSERT_EQ(tokens.size(), 4u);
  for (const std::string& token : tokens) {
    EXPECT_FALSE(get("/f?t=" + token).empty());
    EXPECT_FALSE(get("/t?t=" + token).empty());
  }
  fs::remove(trip / "a.png");
  fs::create_symlink(outside / "a.png", trip / "a.png");
  fs::rename(trip / "sub", trip / "was-sub");
  fs::create_directory_symlink(outside, trip / "sub");
  for (const std::string& token : tokens) {
    EXPECT_EQ(get("/f?t=" + token), "") << token;
    EXPECT_EQ(get("/t?t=" + token), "") << token;
  }
}
