#pragma once
// The received list: every file and text that phones sent in this run, newest first, with its name,
// size and time. A file opens with the desktop's default program (double-click or Enter); a text
// opens whole in the text box, where it can be copied. "Show in folder" opens the upload folder.
// A file that is gone from disk (deleted by the phone or by anyone) leaves the list: the folder is
// watched. A small window of its own, owned by the main dialog; interface thread only.

#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QString>
#include <functional>

class QFileSystemWatcher;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class CReceivedList : public QDialog {
  Q_DECLARE_TR_FUNCTIONS(CReceivedList)

 public:
  // The upload folder (watched for files that go); showText shows a text whole, showFolder opens
  // the upload folder.
  CReceivedList(QWidget* parent, const QString& folder, std::function<void(const QString&)> showText,
                std::function<void()> showFolder);

  // A stored file (its full path) or a text has arrived, now.
  void AddFile(const QString& path);
  void AddText(const QString& text);
  // Files received in this run, those since gone included.
  int FilesReceived() const { return m_filesReceived; }
  // Removes the files that are no longer on disk.
  void DropMissing();
  // Opens the selected entry: a file with the desktop's program, a text in the text box.
  void OpenSelected();
  QTreeWidget* Tree() const { return m_pTree; }
  QPushButton* OpenButton() const { return m_pOpen; }
  QPushButton* FolderButton() const { return m_pFolder; }

 private:
  QTreeWidgetItem* AddRow(const QString& name, const QString& size, const QDateTime& when);

  QString m_strFolder;
  std::function<void(const QString&)> m_showText;
  QTreeWidget* m_pTree = nullptr;
  QPushButton* m_pOpen = nullptr;
  QPushButton* m_pFolder = nullptr;
  QFileSystemWatcher* m_pWatcher = nullptr;
  int m_filesReceived = 0;
};
