// CZipWriter against real readers (unzip, zipinfo, Python's zipfile) and the header bytes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>

#include "support/TestEnv.h"
#include "zip/ZipCheck.h"
#include "zip/ZipCompressor.h"
#include "zip/ZipWriter.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

// prefix + n + suffix, appended in place: GCC 12 at -O3 misreads "literal" + std::to_string(n) as an
// overlapping copy (a false -Wrestrict).
std::string Numbered(const char* prefix, long long n, const char* suffix = "") {
  std::string text(prefix);
  text += std::to_string(n);
  text += suffix;
  return text;
}

struct RawLocal {
  uint32_t signature, needed, flags, method, time, date, crc, compressedSize, size, nameLength, extraLength;
  std::string name, extra;
};

RawLocal LocalAt(const std::string& b, size_t at) {
  RawLocal h{Le32(b, at),
             Le16(b, at + 4),
             Le16(b, at + 6),
             Le16(b, at + 8),
             Le16(b, at + 10),
             Le16(b, at + 12),
             Le32(b, at + 14),
             Le32(b, at + 18),
             Le32(b, at + 22),
             Le16(b, at + 26),
             Le16(b, at + 28),
             {},
             {}};
  h.name = b.substr(at + 30, h.nameLength);
  h.extra = b.substr(at + 30 + h.nameLength, h.extraLength);
  return h;
}

struct RawCentral {
  uint32_t madeBy, needed, flags, method, time, date, crc, compressedSize, size, attributes, offset;
  std::string name, extra;
};

// The central records, found through the end record at the file's end.
std::vector<RawCentral> CentralRecords(const std::string& b) {
  const size_t end = b.size() - 22;
  EXPECT_EQ(Le32(b, end), 0x06054B50u);
  size_t at = Le32(b, end + 16);
  std::vector<RawCentral> v;
  for (uint32_t i = 0; i < Le16(b, end + 10); ++i) {
    EXPECT_EQ(Le32(b, at), 0x02014B50u);
    RawCentral c{Le16(b, at + 4),
                 Le16(b, at + 6),
                 Le16(b, at + 8),
                 Le16(b, at + 10),
                 Le16(b, at + 12),
                 Le16(b, at + 14),
                 Le32(b, at + 16),
                 Le32(b, at + 20),
                 Le32(b, at + 24),
                 Le32(b, at + 38),
                 Le32(b, at + 42),
                 {},
                 {}};
    const uint32_t nameLength = Le16(b, at + 28), extraLength = Le16(b, at + 30);
    EXPECT_EQ(Le16(b, at + 32), 0u);  // comment
    EXPECT_EQ(Le16(b, at + 34), 0u);  // disk
    EXPECT_EQ(Le16(b, at + 36), 0u);  // internal attributes
    c.name = b.substr(at + 46, nameLength);
    c.extra = b.substr(at + 46 + nameLength, extraLength);
    v.push_back(c);
    at += 46 + nameLength + extraLength;
  }
  return v;
}

// Every local header agrees with its central record, and no entry keeps the descriptor flag.
void ExpectHeadersAgree(const std::string& b) {
  for (const RawCentral& c : CentralRecords(b)) {
    const RawLocal l = LocalAt(b, c.offset);
    EXPECT_EQ(l.signature, 0x04034B50u);
    EXPECT_EQ(l.flags & 0x0008u, 0u) << c.name;
    EXPECT_EQ(l.flags, c.flags);
    EXPECT_EQ(l.needed, c.needed);
    EXPECT_EQ(l.method, c.method);
    EXPECT_EQ(l.crc, c.crc);
    EXPECT_EQ(l.compressedSize, c.compressedSize);
    EXPECT_EQ(l.size, c.size);
    EXPECT_EQ(l.time, c.time);
    EXPECT_EQ(l.date, c.date);
    EXPECT_EQ(l.name, c.name);
    ASSERT_EQ(l.extra.size(), 17u);
    EXPECT_EQ(l.extra.substr(0, 5), std::string("UT\x0D\x00\x07", 5));
    ASSERT_EQ(c.extra.size(), 9u);
    EXPECT_EQ(c.extra.substr(0, 5), std::string("UT\x05\x00\x07", 5));
    EXPECT_EQ(c.extra.substr(5, 4), l.extra.substr(5, 4));  // the same modification time
    EXPECT_EQ(c.madeBy, 0x0B17u);
  }
}

std::string Crc(const std::string& s) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08lX",
                crc32(0L, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
  return buf;
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

std::string Text(size_t n) {
  std::string s;
  for (int i = 0; s.size() < n; ++i) s += "Line " + std::to_string(i) + " of some text that compresses well.\n";
  s.resize(n);
  return s;
}

std::unique_ptr<CZipWriter> MakeWriter(const std::string& path, unsigned threads = 0) {
  std::unique_ptr<CZipWriter> w;
  EXPECT_EQ(CZipWriter::Create(path, w, threads), ZIP_OK);
  return w;
}

}  // namespace

TEST(ZipWriter, ArchiveWithoutEntriesIsTheBareEndRecord) {
  CTempWorkDir dir;
  const fs::path zip = dir.Path() / "e.zip";
  MakeWriter(zip)->Close();
  std::string expected("PK\x05\x06", 4);
  expected.append(18, '\0');
  EXPECT_EQ(ReadFile(zip), expected);
  const CPyArchive py = InspectWithPython(zip);
  EXPECT_TRUE(py.readable) << py.status;
  EXPECT_TRUE(py.entries.empty());
}

TEST(ZipWriter, CreateFailsWithoutAWriterWhenTheFileCannotBeMade) {
  CTempWorkDir dir;
  std::unique_ptr<CZipWriter> w;
  EXPECT_EQ(CZipWriter::Create(dir.Path() / "missing/a.zip", w), ZIP_ERR_OPEN);
  EXPECT_EQ(w, nullptr);
}

TEST(ZipWriter, FolderEntryHasSlashNoDataAndDirectoryAttributes) {
  CTempWorkDir dir;
  const fs::path zip = dir.Path() / "f.zip";
  auto w = MakeWriter(zip);
  ASSERT_EQ(w->AddFolder("sub"), ZIP_OK);
  ASSERT_EQ(w->AddFolder("already/"), ZIP_OK);
  ASSERT_EQ(w->Close(), ZIP_OK);
  const std::string b = ReadFile(zip);
  const RawLocal l = LocalAt(b, 0);
  EXPECT_EQ(l.name, "sub/");
  EXPECT_EQ(l.needed, 20u);
  EXPECT_EQ(l.flags, 0u);
  EXPECT_EQ(l.method, 0u);
  EXPECT_EQ(l.crc, 0u);
  EXPECT_EQ(l.compressedSize, 0u);
  EXPECT_EQ(l.size, 0u);
  const auto central = CentralRecords(b);
  ASSERT_EQ(central.size(), 2u);
  EXPECT_EQ(central[0].attributes, 0x41C00010u);
  EXPECT_EQ(central[1].name, "already/");
  EXPECT_EQ(central[1].offset, 30u + 4 + 17);
  ExpectHeadersAgree(b);
  // The folder's times are now.
  const uint32_t stamp = Le32(l.extra, 5);
  EXPECT_LE(std::abs(static_cast<long>(stamp) - static_cast<long>(std::time(nullptr))), 5);
  EXPECT_EQ(Le32(l.extra, 9), stamp);
  EXPECT_EQ(Le32(l.extra, 13), stamp);

  const CPyArchive py = InspectWithPython(zip);
  ASSERT_TRUE(py.readable) << py.status;
  EXPECT_EQ(py.Names(), (std::vector<std::string>{"sub/", "already/"}));
  EXPECT_EQ(py.entries[0].attributes, 0x41C00010u);
  EXPECT_EQ(py.entries[0].madeBy, "0B17");
  EXPECT_TRUE(UnzipTestsClean(zip));
}

TEST(ZipWriter, ArchiveSuffixesAreStoredOthersDeflated) {
  CTempWorkDir dir;
  const fs::path zip = dir.Path() / "s.zip";
  const std::string content = Text(50000);
  const std::vector<std::pair<std::string, int>> cases = {{"photo.ZIP", 0}, {"x.tgz", 0}, {".gz", 0},
                                                          {"a.Z", 0},       {"b.LzH", 0}, {"archive.zip.txt", 8},
                                                          {"README", 8},    {"z.z", 0},   {"c.gzip", 8}};
  auto w = MakeWriter(zip);
  for (const auto& [name, method] : cases) {
    WriteFile(dir.Path() / "src" / name, content);
    ASSERT_EQ(w->AddFile(name, dir.Path() / "src" / name), ZIP_OK) << name;
  }
  ASSERT_EQ(w->Close(), ZIP_OK);
  const std::string b = ReadFile(zip);
  ExpectHeadersAgree(b);
  const CPyArchive py = InspectWithPython(zip);
  ASSERT_TRUE(py.readable) << py.status;
  ASSERT_EQ(py.entries.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const CPyEntry& e = py.entries[i];
    EXPECT_EQ(e.name, cases[i].first);
    EXPECT_EQ(e.method, cases[i].second) << e.name;
    EXPECT_EQ(e.flags, cases[i].second == 8 ? 0x0002u : 0u) << e.name;
    EXPECT_EQ(e.crc, Crc(content));
    EXPECT_EQ(e.size, content.size());
    if (e.method == 0) {
      EXPECT_EQ(e.compressedSize, content.size());
    } else {
      EXPECT_LT(e.compressedSize, content.size() / 4);
    }
    EXPECT_EQ(e.attributes, 0x81800000u) << e.name;
    EXPECT_EQ(e.needed, 20);
  }
  EXPECT_TRUE(UnzipTestsClean(zip));
  EXPECT_NE(ZipInfo(zip).find("photo.ZIP"), std::string::npos);
}

TEST(ZipWriter, EmptyFileIsDeflatedAndSecondOffsetFollowsTheFirstEntry) {
  CTempWorkDir dir;
  const fs::path zip = dir.Path() / "o.zip";
  WriteFile(dir.Path() / "empty", "");
  WriteFile(dir.Path() / "two.txt", Text(1000));
  auto w = MakeWriter(zip);
  ASSERT_EQ(w->AddFile("empty", dir.Path() / "empty"), ZIP_OK);
  ASSERT_EQ(w->AddFile("two.txt", dir.Path() / "two.txt"), ZIP_OK);
  ASSERT_EQ(w->Close(), ZIP_OK);
  const std::string b = ReadFile(zip);
  const RawLocal first = LocalAt(b, 0);
  EXPECT_EQ(first.method, 8u);
  EXPECT_EQ(first.flags, 2u);
  EXPECT_EQ(first.size, 0u);
  EXPECT_EQ(first.crc, 0u);
  EXPECT_EQ(first.compressedSize, 2u);  // the final empty block
  const auto central = CentralRecords(b);
  ASSERT_EQ(central.size(), 2u);
  EXPECT_EQ(central[0].offset, 0u);
  EXPECT_EQ(central[1].offset, 30u + 5 + 17 + first.compressedSize);
  ExpectHeadersAgree(b);
  const CPyArchive py = InspectWithPython(zip);
  ASSERT_TRUE(py.readable) << py.status;
  EXPECT_EQ(py.entries[1].crc, Crc(Text(1000)));
  EXPECT_TRUE(UnzipTestsClean(zip));
}

TEST(ZipWriter, AttributesFollowPermissionsAndWindowsExecutables) {
  CTempWorkDir dir;
  const fs::path zip = dir.Path() / "a.zip";
  WriteFile(dir.Path() / "plain", "plain");
  WriteFile(dir.Path() / "readonly", "ro");
  fs::permissions(dir.Path() / "readonly", fs::perms::owner_read | fs::perms::group_read);
  WriteFile(dir.Path() / "script", "#!/bin/sh\n");
  fs::permissions(dir.Path() / "script", fs::perms::owner_all);
  // A PE program: "MZ", new-header offset 64 at offset 60, "PE\0\0" there, larger than 64 + 52.
  std::string pe(200, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[60] = 64;
  pe.replace(64, 4, std::string("PE\0\0", 4));
  WriteFile(dir.Path() / "prog.exe", pe);
  std::string shortPe = pe.substr(0, 100);  // its header would lie past the end
  WriteFile(dir.Path() / "short.exe", shortPe);
  auto w = MakeWriter(zip);
  for (const char* n : {"plain", "readonly", "script", "prog.exe", "short.exe"})
    ASSERT_EQ(w->AddFile(n, dir.Path() / n), ZIP_OK);
  ASSERT_EQ(w->Close(), ZIP_OK);
  const CPyArchive py = InspectWithPython(zip);
  ASSERT_TRUE(py.readable) << py.status;
  ASSERT_EQ(py.entries.size(), 5u);
  EXPECT_EQ(py.entries[0].attributes, 0x81800000u);
  EXPECT_EQ(py.entries[1].attributes, 0x81000001u);
  EXPECT_EQ(py.entries[2].attributes, 0x81C00000u);
  EXPECT_EQ(py.entries[3].attributes, 0x81C00000u);
  EXPECT_EQ(py.entries[4].attributes, 0x81800000u);
  EXPECT_TRUE(UnzipTestsClean(zip));
}

TEST(ZipWriter, TimesAreDosLocalTimeAndExtendedStampsHeldTo1970Through2037) {
  CTempWorkDir dir;
  const fs::path zip = dir.Path() / "t.zip";
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  struct Case {
    time_t t;
    uint32_t dosDate, dosTime, stamp;
  };
  const Case cases[] = {
      // 2020-06-15 12:34:56
      {1592224496, ((2020 - 1980) << 9) | (6 << 5) | 15, (12 << 11) | (34 << 5) | 28, 1592224496},
      // 1975-03-01 08:00:00: before MS-DOS dates, within the stamp's years
      {162892800, (1 << 5) | 1, 0, 162892800},
      // 1960-05-10 10:10:30: the stamp becomes 1970-01-01 10:10:30
      {-304350570, (1 << 5) | 1, 0, 36630},
      // 2050-01-03 03:04:06: the stamp becomes 2037-12-31 03:04:06
      {2524791846, ((2050 - 1980) << 9) | (1 << 5) | 3, (3 << 11) | (4 << 5) | 3, 2145841446},
  };
  auto w = MakeWriter(zip);
  int i = 0;
  for (const Case& c : cases) {
    const std::string name = Numbered("f", i++);
    const fs::path source = dir.Path() / name;
    WriteFile(source, "x");
    const timespec times[2] = {{c.t, 0}, {c.t, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    ASSERT_EQ(w->AddFile(name, source), ZIP_OK);
  }
  ASSERT_EQ(w->Close(), ZIP_OK);
  const std::string b = ReadFile(zip);
  const auto central = CentralRecords(b);
  ASSERT_EQ(central.size(), 4u);
  for (size_t k = 0; k < central.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(central[k].date, cases[k].dosDate);
    EXPECT_EQ(central[k].time, cases[k].dosTime);
    const RawLocal l = LocalAt(b, central[k].offset);
    EXPECT_EQ(Le32(l.extra, 5), cases[k].stamp);
    EXPECT_EQ(Le32(l.extra, 9), cases[k].stamp);  // access time, set alike
    EXPECT_EQ(Le32(central[k].extra, 5), cases[k].stamp);
  }
  ExpectHeadersAgree(b);
  EXPECT_TRUE(InspectWithPython(zip).readable);
}

TEST(ZipWriter, NamesAreUtf8WithTheirFlagAndRefusedWhenEmptyOrTooLong) {
  CTempWorkDir dir;
  const fs::path zip = dir.Path() / "n.zip", src = dir.Path() / "src";
  WriteFile(src, "data");
  auto w = MakeWriter(zip);
  EXPECT_EQ(w->AddFile("", src), ZIP_ERR_ARGS);
  EXPECT_EQ(w->AddFolder(""), ZIP_ERR_ARGS);
  EXPECT_EQ(w->AddFile(std::string(65536, 'a'), src), ZIP_ERR_ARGS);
  EXPECT_EQ(w->AddFolder(std::string(65535, 'a')), ZIP_ERR_ARGS);  // its "/" would not fit
  ASSERT_EQ(w->AddFile("照片/猫.txt", src), ZIP_OK);
  ASSERT_EQ(w->AddFile("plain.txt", src), ZIP_OK);
  ASSERT_EQ(w->AddFile(std::string("bad\xFFname", 8), src), ZIP_OK);
  ASSERT_EQ(w->AddFolder("目录"), ZIP_OK);
  ASSERT_EQ(w->AddFile(std::string(300, 'n'), src), ZIP_OK);
  ASSERT_EQ(w->Close(), ZIP_OK);
  const std::string b = ReadFile(zip);
  ExpectHeadersAgree(b);
  const CPyArchive py = InspectWithPython(zip);
  ASSERT_TRUE(py.readable) << py.status;
  ASSERT_EQ(py.entries.size(), 5u);
  EXPECT_EQ(py.entries[0].name, "照片/猫.txt");
  EXPECT_EQ(py.entries[0].flags, 0x0802u);
  EXPECT_EQ(py.entries[1].flags, 0x0002u);
  EXPECT_EQ(py.entries[2].name, "bad?name");
  EXPECT_EQ(py.entries[2].flags, 0x0002u);
  EXPECT_EQ(py.entries[3].name, "目录/");
  EXPECT_EQ(py.entries[3].flags, 0x0800u);
  EXPECT_EQ(py.entries[4].name, std::string(300, 'n'));
  EXPECT_TRUE(UnzipTestsClean(zip));
}

TEST(ZipWriter, FailedAddsLeaveAReadableArchiveOfTheCompletedEntries) {
  CTempWorkDir dir;
  const fs::path zip = dir.Path() / "x.zip";
  WriteFile(dir.Path() / "good1.txt", Text(3000));
  WriteFile(dir.Path() / "good2.txt", Text(5000));
  WriteFile(dir.Path() / "big.bin", RandomBytes(3 * 1024 * 1024, 7));
  auto w = MakeWriter(zip, 1);
  ASSERT_EQ(w->AddFile("good1.txt", dir.Path() / "good1.txt"), ZIP_OK);
  const uintmax_t before = fs::file_size(zip);
  // A source that cannot be opened writes nothing.
  EXPECT_EQ(w->AddFile("missing", dir.Path() / "missing"), ZIP_ERR_OPEN);
  EXPECT_EQ(w->AddFile("folder", dir.Path()), ZIP_ERR_OPEN);
  // A write that falls short (the file size limit) fails the entry part way.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 1024 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  EXPECT_EQ(w->AddFile("big.bin", dir.Path() / "big.bin"), ZIP_ERR_WRITE);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
  ASSERT_EQ(w->AddFile("good2.txt", dir.Path() / "good2.txt"), ZIP_OK);
  ASSERT_EQ(w->Close(), ZIP_OK);
  // Adding after Close.
  EXPECT_EQ(w->AddFile("good1.txt", dir.Path() / "good1.txt"), ZIP_ERR_CLOSED);
  EXPECT_EQ(w->AddFolder("d"), ZIP_ERR_CLOSED);

  const std::string b = ReadFile(zip);
  ExpectHeadersAgree(b);
  const auto central = CentralRecords(b);
  ASSERT_EQ(central.size(), 2u);
  EXPECT_EQ(central[0].name, "good1.txt");
  EXPECT_EQ(central[1].name, "good2.txt");
  EXPECT_GE(central[1].offset, before);  // after the failed entry's bytes
  EXPECT_EQ(central[1].offset, 1024u * 1024);
  const CPyArchive py = InspectWithPython(zip);
  ASSERT_TRUE(py.readable) << py.status;
  EXPECT_EQ(py.Names(), (std::vector<std::string>{"good1.txt", "good2.txt"}));
  EXPECT_EQ(py.entries[1].crc, Crc(Text(5000)));
}

// Pieces compressed side by side, with stored blocks for random data, still form one valid Deflate
// stream per entry; the single-stream mode reads back alike.
TEST(ZipWriter, ParallelAndSerialDeflateReadBackWhole) {
  CTempWorkDir dir;
  const std::string mixed = Text(700000) + RandomBytes(600000, 1) + Text(300001) + RandomBytes(70000, 2);
  WriteFile(dir.Path() / "mixed.dat", mixed);
  WriteFile(dir.Path() / "random.jpg", RandomBytes(1024 * 1024, 3));
  WriteFile(dir.Path() / "exact.txt", Text(256 * 1024 * 2));  // ends on a piece boundary
  for (unsigned threads : {1u, 2u, 3u}) {
    SCOPED_TRACE(threads);
    const fs::path path = dir.Path() / Numbered("p", threads, ".zip");
    auto w = MakeWriter(path, threads);
    for (const char* n : {"mixed.dat", "random.jpg", "exact.txt"}) ASSERT_EQ(w->AddFile(n, dir.Path() / n), ZIP_OK);
    ASSERT_EQ(w->Close(), ZIP_OK);
    ExpectHeadersAgree(ReadFile(path));
    const CPyArchive py = InspectWithPython(path);
    ASSERT_TRUE(py.readable) << py.status;
    ASSERT_EQ(py.entries.size(), 3u);
    EXPECT_EQ(py.entries[0].crc, Crc(mixed));
    EXPECT_EQ(py.entries[0].size, mixed.size());
    for (const CPyEntry& e : py.entries) EXPECT_EQ(e.method, 8);
    // Random data costs only block headers, text shrinks.
    EXPECT_LE(py.entries[1].compressedSize, 1024u * 1024 + 400);
    EXPECT_LT(py.entries[0].compressedSize, mixed.size() * 6 / 10);
    EXPECT_TRUE(UnzipTestsClean(path));
  }
}

TEST(ZipCompressor, TellsRandomDataFromText) {
  const std::string random = RandomBytes(256 * 1024, 5), text = Text(256 * 1024);
  EXPECT_TRUE(CZipCompressor::LooksIncompressible(reinterpret_cast<const uint8_t*>(random.data()), random.size()));
  EXPECT_FALSE(CZipCompressor::LooksIncompressible(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// The 16-bit entry count ends at 65,535: from there on the ZIP64 end records carry it, and not before.
TEST(ZipWriter, Zip64EndRecordsOnlyFrom65535Entries) {
  CTempWorkDir dir;
  for (const uint32_t count : {65534u, 65535u}) {
    SCOPED_TRACE(count);
    const fs::path path = dir.Path() / Numbered("c", count, ".zip");
    auto w = MakeWriter(path);
    for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(w->AddFolder(std::to_string(i)), ZIP_OK);
    ASSERT_EQ(w->Close(), ZIP_OK);
    const std::string b = ReadFile(path);
    const size_t end = b.size() - 22;
    ASSERT_EQ(Le32(b, end), 0x06054B50u);
    const bool zip64 = count >= 65535;
    EXPECT_EQ(Le16(b, end + 10), zip64 ? 0xFFFFu : count);
    EXPECT_EQ(b.find(std::string("PK\x06\x06", 4)) != std::string::npos, zip64);
    EXPECT_EQ(b.find(std::string("PK\x06\x07", 4)) != std::string::npos, zip64);
    EXPECT_TRUE(UnzipTestsClean(path));
    if (!zip64) continue;
    const CPyArchive py = InspectWithPython(path, false);
    ASSERT_TRUE(py.readable) << py.status;
    EXPECT_EQ(py.entries.size(), count);
    EXPECT_EQ(py.entries.back().name, std::to_string(count - 1) + "/");
  }
}
