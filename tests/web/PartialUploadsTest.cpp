// Uploads in pieces: resuming at the length held, a piece that takes over from a lost one, the move
// into the upload folder under a free name, and the removal of partial data.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestEnv.h"
#include "web/receive/PartialUploads.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

struct CPieceWrite {
  std::unique_ptr<CPartialUploads::CPiece> piece;
  PartialStatus begun;
  int64_t held = -1;
  std::string stored;
};

CPieceWrite Begin(CPartialUploads& uploads, const std::string& id, int64_t offset) {
  CPieceWrite w;
  w.begun = uploads.BeginPiece(id, offset, w.piece, w.held, w.stored);
  return w;
}

size_t FilesIn(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

}  // namespace

TEST(PartialUploads, ResumesAtTheHeldLengthAndStoresTheWholeFileUnderAFreeName) {
  CTempWorkDir dir;
  fs::create_directory(dir.Path() / "tmp");
  WriteFile(dir.Path() / "tmp" / "clip.mp4", "older file");
  const fs::path part = dir.Path() / ".uploading";
  const std::string content = "0123456789abcdefghij";
  {
    CPartialUploads uploads(part.string(), (dir.Path() / "tmp").string());
    std::string id;
    int64_t held = -1;
    ASSERT_EQ(uploads.Start("clip.mp4", 20, 1700000000000, id, held), PartialStatus::Ok);
    EXPECT_EQ(held, 0);
    EXPECT_EQ(uploads.ReservedBytes(), 20);
    {
      CPieceWrite first = Begin(uploads, id, 0);
      ASSERT_EQ(first.begun, PartialStatus::Ok);
      ASSERT_EQ(first.piece->Write(content.data(), 8), PartialStatus::Ok);
      // The connection breaks here: the piece ends without its rest.
    }
    // The same file chosen again (a reloaded page) finds the same upload and what it holds.
    std::string again;
    ASSERT_EQ(uploads.Start("clip.mp4", 20, 1700000000000, again, held), PartialStatus::Ok);
    EXPECT_EQ(again, id);
    EXPECT_EQ(held, 8);
    EXPECT_EQ(uploads.ReservedBytes(), 12);
    // Another modification time is another file.
    std::string other;
    ASSERT_EQ(uploads.Start("clip.mp4", 20, 1700000000001, other, held), PartialStatus::Ok);
    EXPECT_NE(other, id);

    CPieceWrite wrong = Begin(uploads, id, 0);
    EXPECT_EQ(wrong.begun, PartialStatus::WrongOffset);
    EXPECT_EQ(wrong.held, 8);

    CPieceWrite rest = Begin(uploads, id, 8);
    ASSERT_EQ(rest.begun, PartialStatus::Ok);
    EXPECT_EQ(rest.piece->Write(content.data() + 8, 13), PartialStatus::BadRequest);  // beyond the size
    ASSERT_EQ(rest.piece->Write(content.data() + 8, 12), PartialStatus::Ok);
    std::string stored;
    ASSERT_EQ(rest.piece->Finish(stored), PartialStatus::Complete);
    EXPECT_EQ(fs::path(stored).filename(), "clip(0).mp4");
    EXPECT_EQ(ReadFile(stored), content);
    EXPECT_EQ(ReadFile(dir.Path() / "tmp" / "clip.mp4"), "older file");

    // The final reply was lost: asking again gives the stored file, not a second copy.
    CPieceWrite repeat = Begin(uploads, id, 20);
    EXPECT_EQ(repeat.begun, PartialStatus::Complete);
    EXPECT_EQ(repeat.stored, stored);
    EXPECT_EQ(FilesIn(dir.Path() / "tmp"), 2u);
    // Only the other upload's data is left aside.
    EXPECT_EQ(FilesIn(part), 1u);
  }
  // Closing removes the partial data.
  EXPECT_FALSE(fs::exists(part));
}

TEST(PartialUploads, ALaterPieceTakesOverAndIdleUploadsExpire) {
  CTempWorkDir dir;
  fs::create_directory(dir.Path() / "tmp");
  auto now = CPartialUploads::Clock::now();
  CPartialUploads uploads((dir.Path() / ".uploading").string(), (dir.Path() / "tmp").string(), [&] { return now; });
  std::string id;
  int64_t held = 0;
  ASSERT_EQ(uploads.Start("a.bin", 6, 1, id, held), PartialStatus::Ok);

  // The first connection hangs on, unseen by the server; the phone's retry takes over.
  CPieceWrite lost = Begin(uploads, id, 0);
  CPieceWrite retry = Begin(uploads, id, 0);
  ASSERT_EQ(retry.begun, PartialStatus::Ok);
  EXPECT_EQ(lost.piece->Write("xx", 2), PartialStatus::Superseded);
  ASSERT_EQ(retry.piece->Write("abc", 3), PartialStatus::Ok);
  std::string stored;
  EXPECT_EQ(lost.piece->Finish(stored), PartialStatus::Superseded);
  EXPECT_EQ(retry.piece->Finish(stored), PartialStatus::Ok);
  retry.piece.reset();

  // An empty file completes with its one empty piece.
  std::string empty;
  ASSERT_EQ(uploads.Start("empty.txt", 0, 1, empty, held), PartialStatus::Ok);
  CPieceWrite none = Begin(uploads, empty, 0);
  ASSERT_EQ(none.piece->Finish(stored), PartialStatus::Complete);
  EXPECT_EQ(ReadFile(stored), "");

  // More than the disk holds is refused before anything is kept.
  std::string huge;
  EXPECT_EQ(uploads.Start("huge.bin", CPartialUploads::kMaxSize, 1, huge, held), PartialStatus::DiskFull);
  EXPECT_EQ(uploads.Start("bad.bin", -1, 1, huge, held), PartialStatus::BadRequest);
  EXPECT_EQ(uploads.Start("..", 1, 1, huge, held), PartialStatus::BadRequest);

  now += CPartialUploads::kMaxIdle + std::chrono::minutes(1);
  uploads.RemoveExpired();
  EXPECT_EQ(Begin(uploads, id, 3).begun, PartialStatus::Unknown);
  EXPECT_EQ(FilesIn(dir.Path() / ".uploading"), 0u);
  EXPECT_EQ(uploads.ReservedBytes(), 0);
}
