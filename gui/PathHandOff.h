#pragma once
// Paths named on the command line (`marlix PATH...`, a file manager's "Open with Marlix"): handed
// to the window that already runs for this user, or shared by this program's own window at start.
//
// The running window listens on a local socket of a per-user name; a second `marlix PATH...`
// connects, writes the paths (UTF-8, each ended by a NUL byte), closes and exits. The window shares
// them as a drop of them and comes to the front. Interface thread only.

#include <QObject>
#include <QString>
#include <QStringList>

class CMarlixDlg;
class QLocalServer;

// The local socket for this user: in $XDG_RUNTIME_DIR when the user owns it, else a per-user name
// in the temporary folder.
QString PathHandOffName();

// The command-line paths made absolute against the current folder and cleaned.
QStringList CommandLinePaths(const QStringList& arguments);

// Hands the paths to the window listening under the name; false when none listens (within 2 s).
bool HandPathsToRunningWindow(const QStringList& paths, const QString& name = PathHandOffName());

class CPathReceiver : public QObject {
 public:
  // Listens under the name (a stale socket of an ended window is replaced) and shares each list
  // that arrives in the dialog. Listen failures leave the window working without hand-over.
  CPathReceiver(CMarlixDlg* dialog, const QString& name = PathHandOffName());
  ~CPathReceiver() override;
  bool IsListening() const;

 private:
  void OnConnection();
  CMarlixDlg* m_pDialog;
  QLocalServer* m_pServer;
};
