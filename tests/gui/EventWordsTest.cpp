// Every event of the core has its words in both front ends and both languages: the window's through
// the shipped translation, the terminal's from its table. Both say the same, but where the terminal
// has words of its own or only moves its bar.

#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/TerminalWords.h"
#include "gui/MarlixDlg.h"
#include "gui/UiTranslation.h"
#include "support/RecordingMainDialog.h"

namespace {

enum class Terminal { Same, Own, BarOnly };

struct CRow {
  CViewEvent Event;
  Terminal Says;
  bool Words;  // false: the event only moves the bar
};

const CRow kRows[] = {
    {{.Id = ViewEventId::DownloadProgress, .Done = 1, .Total = 2}, Terminal::Same, false},
    {{.Id = ViewEventId::UploadProgress, .Done = 1, .Total = 2, .Name = "a.jpg"}, Terminal::BarOnly, true},
    {{.Id = ViewEventId::RelayProgress, .Done = 1, .Total = 2, .Token = "T"}, Terminal::Same, false},
    {{.Id = ViewEventId::FileReceived, .Name = "tmp/照片.jpg"}, Terminal::Same, true},
    {{.Id = ViewEventId::FileStored, .Name = "tmp/a.jpg"}, Terminal::Same, false},
    {{.Id = ViewEventId::PackingStarted}, Terminal::Same, true},
    {{.Id = ViewEventId::PackingFinished, .Count = 3}, Terminal::Same, true},
    {{.Id = ViewEventId::NoFreePort}, Terminal::Same, true},
    {{.Id = ViewEventId::WanFailed}, Terminal::Same, true},
    {{.Id = ViewEventId::WanBehindNat}, Terminal::Same, true},
    {{.Id = ViewEventId::NoRelaySet}, Terminal::Own, true},  // names the environment, not the settings
    {{.Id = ViewEventId::RelayFolderRefused}, Terminal::Same, true},
    {{.Id = ViewEventId::RelayFileTooLarge}, Terminal::Same, true},
    {{.Id = ViewEventId::RelayFailed, .Code = static_cast<int>(RelayFailure::NoAnswer)}, Terminal::Same, true},
    {{.Id = ViewEventId::RelayUnencrypted}, Terminal::Same, true},
    {{.Id = ViewEventId::NewVersion, .Name = "http://relay.test"}, Terminal::Same, true},
    {{.Id = ViewEventId::ProgressShown}, Terminal::Same, false},
    {{.Id = ViewEventId::ProgressReset}, Terminal::Same, false},
    {{.Id = ViewEventId::ReceivedCount, .Count = 2}, Terminal::Same, false},
    {{.Id = ViewEventId::TextReceived, .Name = "取件码"}, Terminal::Same, false},  // shown whole, not worded
};

}  // namespace

TEST(EventWords, EveryEventIsWordedInBothFrontEndsAndBothLanguages) {
  ASSERT_EQ(std::size(kRows), static_cast<size_t>(kLastViewEventId) + 1);
  for (size_t i = 0; i < std::size(kRows); ++i) ASSERT_EQ(static_cast<size_t>(kRows[i].Event.Id), i);

  // Chinese: the source texts; then English from the translation built into the data folder.
  std::vector<CWindowWords> chinese;
  for (const CRow& row : kRows) chinese.push_back(CMarlixDlg::Words(row.Event));
  ::setenv("LANGUAGE", "en", 1);
  ASSERT_TRUE(InstallUiTranslation(QStringLiteral(MARLIX_BINARY_DIR "/data")));
  ::unsetenv("LANGUAGE");
  for (size_t i = 0; i < std::size(kRows); ++i) {
    const CRow& row = kRows[i];
    SCOPED_TRACE(EventName(row.Event.Id));
    const CWindowWords english = CMarlixDlg::Words(row.Event);
    const CWindowWords* window[] = {&chinese[i], &english};
    for (const bool inChinese : {true, false}) {
      const CWindowWords& w = *window[inChinese ? 0 : 1];
      const CTerminalWords t = TerminalWords(row.Event, inChinese);
      EXPECT_EQ(!w.Line.isEmpty() || !w.Message.isEmpty(), row.Words) << inChinese;
      if (row.Says == Terminal::Same) {
        EXPECT_EQ(w.Line.toStdString(), t.Line) << inChinese;
        EXPECT_EQ(w.Message.toStdString(), t.Message) << inChinese;
      } else if (row.Says == Terminal::BarOnly) {
        EXPECT_TRUE(t.Line.empty() && t.Message.empty());
      } else {
        EXPECT_FALSE(t.Line.empty() && t.Message.empty());
      }
    }
    // Translated: no Chinese left in what an English window or terminal says (only the file's name).
    const CTerminalWords t = TerminalWords(row.Event, false);
    for (const std::string& text : {english.Line.toStdString(), english.Message.toStdString(), t.Line, t.Message}) {
      std::string rest = text;
      if (const size_t at = rest.find(row.Event.Name); !row.Event.Name.empty() && at != std::string::npos)
        rest.erase(at, row.Event.Name.size());
      for (const char c : rest) EXPECT_GE(static_cast<signed char>(c), 0) << text;
    }
  }

  // Texts with a value in them, as the user reads them.
  EXPECT_EQ(CMarlixDlg::Words(kRows[3].Event).Line, QStringLiteral("Uploading: tmp/照片.jpg"));
  EXPECT_EQ(CMarlixDlg::Words(kRows[6].Event).Line,
            QStringLiteral("3 entries could not be read and were left out of the archive"));
  EXPECT_EQ(CMarlixDlg::Words(kRows[13].Event).Line,
            QStringLiteral("The relay upload failed: the relay did not answer"));
  EXPECT_EQ(CMarlixDlg::Words(kRows[5].Event).Line, QStringLiteral("Compressing..."));
  RemoveUiTranslation();
  EXPECT_EQ(CMarlixDlg::Words(kRows[6].Event).Line, QStringLiteral("有 3 项无法读取，未打包"));
  EXPECT_EQ(CMarlixDlg::Words(kRows[7].Event).Message, QStringLiteral("无端口可用，程序无法运行！！！"));
  const CViewEvent refused{
      .Id = ViewEventId::RelayFailed, .Code = static_cast<int>(RelayFailure::Refused), .Name = "relay storage full"};
  EXPECT_EQ(TerminalWords(refused, true).Line, "云中转上传失败：relay storage full");
}
