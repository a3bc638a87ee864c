// The stored names of received files and their escaping in the reply.

#include <gtest/gtest.h>

#include "web/receive/UploadName.h"

TEST(UploadName, KeepsOnlyTheLastPathElementAndRefusesEmptyOrDotNames) {
  EXPECT_EQ(SafeUploadName("a/b.txt"), "b.txt");
  EXPECT_EQ(SafeUploadName("C:\\Users\\x\\c.doc"), "c.doc");
  EXPECT_EQ(SafeUploadName(".bashrc"), "_.bashrc");  // never hidden
  // Marks that reorder text: "\u202Efdp.exe" would show as "exe.pdf".
  EXPECT_EQ(SafeUploadName("\u202Efdp.exe"), "_fdp.exe");
  EXPECT_EQ(SafeUploadName("a\u200Eb\u2066c\u2069.txt"), "a_b_c_.txt");
  EXPECT_EQ(SafeUploadName("照片.jpg"), "照片.jpg");
  for (const char* refused : {"", ".", "..", "....", "x/..", "x\\", "/"}) EXPECT_EQ(SafeUploadName(refused), "");
  EXPECT_EQ(SafeUploadName(std::string("a\nb\x01.txt")), "a_b_.txt");
  EXPECT_EQ(SafeUploadName("\xe6\x96.txt"), "__.txt");  // a cut-off character
}

TEST(UploadName, NumbersBeforeTheLastDotOrAtTheEnd) {
  EXPECT_EQ(NumberedUploadName("photo.jpg", -1), "photo.jpg");
  EXPECT_EQ(NumberedUploadName("photo.jpg", 0), "photo(0).jpg");
  EXPECT_EQ(NumberedUploadName("a.tar.gz", 12), "a.tar(12).gz");
  EXPECT_EQ(NumberedUploadName("README", 3), "README(3)");
  // A numbered name of the longest plain name still fits the numbered-path limit.
  const std::string name = SafeUploadName(std::string(400, 'n') + ".jpg");
  const std::string numbered = NumberedUploadName(name, 99999);
  EXPECT_LE(4 + numbered.size(), kMaxNumberedPath);
  EXPECT_EQ(numbered.substr(numbered.size() - 12), "n(99999).jpg");
}

TEST(UploadName, EscapesForJsonAndForTheAddressPath) {
  EXPECT_EQ(JsonEscape("a\"b\\c\x01"), "a\\\"b\\\\c\\u0001");
  EXPECT_EQ(JsonEscape("文件.txt"), "文件.txt");
  EXPECT_EQ(UrlEscapeName("50% #1?.txt"), "50%25 %231%3F.txt");
}
