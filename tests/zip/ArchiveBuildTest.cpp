// The streamed layout and CArchiveBuild: archives read while they are written, by real readers.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <thread>

#include "support/SmallDisk.h"
#include "support/TestEnv.h"
#include "zip/ArchiveBuild.h"
#include "zip/ZipCheck.h"
#include "zip/ZipWriter.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

std::string Noise(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
  return s;
}

std::string Text(size_t n) {
  std::string s;
  for (int i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of the shared text\n";
  s.resize(n);
  return s;
}

std::string Crc(const std::string& s) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08lX", crc32(0L, reinterpret_cast<const Bytef*>(s.data()), s.size()));
  return hex;
}

// Reads the build from `offset` to its end as a blocking reader does; false when it failed.
bool ReadToEnd(CArchiveBuild& build, uint64_t offset, size_t chunk, std::string& got) {
  std::string buf(chunk, '\0');
  for (;;) {
    const CArchiveBuild::CRead r = build.Read(offset, buf.data(), buf.size());
    if (r.kind == CArchiveBuild::CRead::kData) {
      got.append(buf.data(), r.size);
      offset += r.size;
    } else if (r.kind == CArchiveBuild::CRead::kLater) {
      build.WaitFor(offset, std::chrono::seconds(1));
    } else {
      return r.kind == CArchiveBuild::CRead::kEnd;
    }
  }
}

// The folder every build test packs, "shared" in the test's folder: small, empty, a folder, a stored
// member and a large mixed file.
struct CFolderFile {
  const char* name;
  std::string content;
};
std::vector<CFolderFile> MakeFolder(const fs::path& dir) {
  std::vector<CFolderFile> files = {{"a.txt", "hello"},
                                    {"empty.txt", ""},
                                    {"inner.zip", Noise(70000, 1)},
                                    {"sub/big.dat", Text(2000000) + Noise(1500000, 2) + Text(500001)},
                                    {"sub/deeper/z.txt", Text(10000)}};
  for (const CFolderFile& f : files) WriteFile(dir / "shared" / f.name, f.content);
  fs::create_directories(dir / "shared/void");
  return files;
}

void ExpectArchiveHolds(const std::string& path, const std::vector<CFolderFile>& files) {
  EXPECT_TRUE(UnzipTestsClean(path));
  const CPyArchive py = InspectWithPython(path);
  ASSERT_TRUE(py.readable) << py.status;
  for (const CFolderFile& f : files) {
    SCOPED_TRACE(f.name);
    const auto e =
        std::find_if(py.entries.begin(), py.entries.end(), [&](const CPyEntry& x) { return x.name == f.name; });
    ASSERT_NE(e, py.entries.end());
    EXPECT_EQ(e->crc, Crc(f.content));
    EXPECT_EQ(e->size, f.content.size());
    EXPECT_EQ(e->flags & 0x0008u, 0x0008u);  // a data descriptor follows
  }
}

}  // namespace

// No byte the writer has called final changes later, and bytes become final while one large entry is
// still being written, with one compression thread or several. The result is valid for the readers.
TEST(StreamedZip, FinalBytesNeverChangeAndGrowWithinAnEntry) {
  CTempWorkDir dir;
  const std::vector<CFolderFile> files = MakeFolder(dir.Path());
  for (unsigned threads : {1u, 2u}) {
    SCOPED_TRACE(threads);
    const fs::path path = dir.Path() / ("s" + std::to_string(threads) + ".zip");
    std::unique_ptr<CZipWriter> w;
    ASSERT_EQ(CZipWriter::Create(path, w, threads, true), ZIP_OK);
    std::string seen;  // each range as read from the file when it was called final
    int duringBig = 0;
    bool inBig = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    w->SetFinalListener([&](uint64_t final) {
      const size_t from = seen.size();
      seen.resize(final);
      EXPECT_EQ(::pread(fd, seen.data() + from, final - from, static_cast<off_t>(from)),
                static_cast<ssize_t>(final - from));
      if (inBig) ++duringBig;
    });
    ASSERT_EQ(w->AddFolder("void"), ZIP_OK);
    for (const CFolderFile& f : files) {
      inBig = std::string(f.name) == "sub/big.dat";
      ASSERT_EQ(w->AddFile(f.name, dir.Path() / "shared" / f.name), ZIP_OK);
      inBig = false;
    }
    ASSERT_EQ(w->Close(), ZIP_OK);
    ::close(fd);
    EXPECT_GE(duringBig, 3);
    EXPECT_EQ(w->FinalBytes(), fs::file_size(path));
    EXPECT_EQ(seen, ReadFile(path));
    ExpectArchiveHolds(path, files);
  }
}

// Readers at different offsets, blocking and called back, read while the build runs and get exactly
// the kept file's bytes; the file stays for later requests.
TEST(ArchiveBuild, ConcurrentReadersGetTheKeptArchive) {
  CTempWorkDir dir;
  const std::vector<CFolderFile> files = MakeFolder(dir.Path());
  const fs::path out = dir.Path() / "out.zip";
  CArchiveBuild build(out, dir.Path() / "shared", nullptr, 2);
  std::mutex lock;
  std::condition_variable more;
  uint64_t news = 0;
  const uint64_t id = build.Subscribe([&] {
    std::lock_guard<std::mutex> l(lock);
    ++news;
    more.notify_all();
  });
  struct CReader {
    uint64_t offset;
    size_t chunk;
    std::string got;
    bool ended = false;
  };
  std::vector<CReader> readers = {{0, 1000, {}, false}, {0, 65536, {}, false}, {123457, 4096, {}, false}};
  std::vector<std::thread> threads;
  for (CReader& r : readers) threads.emplace_back([&] { r.ended = ReadToEnd(build, r.offset, r.chunk, r.got); });
  // A reader that waits for the callback instead of blocking in the build.
  std::string called;
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard<std::mutex> l(lock);
      seen = news;
    }
    char buf[8192];
    const CArchiveBuild::CRead r = build.Read(called.size(), buf, sizeof buf);
    if (r.kind == CArchiveBuild::CRead::kData) {
      called.append(buf, r.size);
      continue;
    }
    if (r.kind != CArchiveBuild::CRead::kLater) {
      EXPECT_EQ(r.kind, CArchiveBuild::CRead::kEnd);
      break;
    }
    std::unique_lock<std::mutex> l(lock);
    more.wait_for(l, std::chrono::seconds(5), [&] { return news != seen; });
  }
  for (std::thread& t : threads) t.join();
  build.Unsubscribe(id);
  ASSERT_EQ(build.GetState(), CArchiveBuild::State::kDone);
  const std::string kept = ReadFile(out);
  EXPECT_EQ(build.FinalSize(), kept.size());
  EXPECT_EQ(build.LeftOut(), 0);
  EXPECT_EQ(called, kept);
  for (const CReader& r : readers) {
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.got, kept.substr(r.offset));
  }
  char c;
  EXPECT_EQ(build.Read(kept.size(), &c, 1).kind, CArchiveBuild::CRead::kEnd);
  ExpectArchiveHolds(out, files);
}

// A packing that fails (full disk, an archive that cannot be made) or is cancelled (a raised flag, or
// the build destroyed) ends every reader with failure and leaves no file.
TEST(ArchiveBuild, FailureAndCancelEndReadersAndLeaveNoFile) {
  CTempWorkDir dir;
  const fs::path shared = dir.Path() / "shared";
  WriteFile(shared / "a.bin", Noise(3 << 20, 7));
  WriteFile(shared / "b.txt", "b");
  const CSmallDisk disk((dir.Path() / "small").string(), 1 << 20);
  struct {
    const char* path;
    bool cancel;
    int error;
  } cases[] = {{"small/out.zip", false, ENOSPC}, {"missing/out.zip", false, ENOENT}, {"c.zip", true, ECANCELED}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    if (c.error == ENOSPC && !disk.Mounted()) continue;  // mounting a tmpfs is not allowed here
    std::atomic<bool> stop{false};
    CArchiveBuild build(dir.Path() / c.path, shared, &stop, 1);
    // Cancelled once the first bytes are out, so that it ends mid-entry.
    const uint64_t id = build.Subscribe([&] { stop = c.cancel; });
    std::string got;
    EXPECT_FALSE(ReadToEnd(build, 0, 4096, got));
    build.Unsubscribe(id);
    EXPECT_EQ(build.GetState(), CArchiveBuild::State::kFailed);
    EXPECT_EQ(build.Error(), c.error);
    EXPECT_FALSE(fs::exists(dir.Path() / c.path));
    char x;
    EXPECT_EQ(build.Read(0, &x, 1).kind, CArchiveBuild::CRead::kFailed);
  }
  // Destroyed while it packs: the destructor ends and joins the thread, and the broken file is gone.
  WriteFile(shared / "c.bin", Noise(8 << 20, 9));
  {
    CArchiveBuild build(dir.Path() / "d.zip", shared, nullptr, 1);
    build.WaitFor(0, std::chrono::seconds(10));
  }
  EXPECT_FALSE(fs::exists(dir.Path() / "d.zip"));
}
