#pragma once
// The main dialog (template 102): the drop area, the status line, the reachability radio buttons,
// the page buttons, the Share button, the progress bar with the caption line, the received-files
// button and the Close button.
//
// Its handlers run on the interface thread. The web service's and the relay's threads reach it only
// through CMainDialogView: every change they ask for is queued to the interface thread, and what
// they read (the caption text, the checked radio button) is mirrored under a lock, so no call ever
// waits for the interface thread.

#include <QCoreApplication>
#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <string>

#include "app/MainDialogView.h"

class CSystemNotReadyDlg;
class CTransparentStatic;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class CWebService;

// Control ids of template 102.
enum : int {
  IDC_CLOSE = 2,
  IDC_DROP_AREA = 1000,
  IDC_STATUS = 1001,
  IDC_PROGRESS = 1010,
  IDC_SHARE = 1011,
  IDC_UPLOAD_PAGE = 1012,
  IDC_SHARE_PAGE = 1013,
  IDC_RECEIVED = 1014,
  IDC_CAPTION = -1,
};

class CMarlixDlg : public QDialog, public CMainDialogView {
  Q_DECLARE_TR_FUNCTIONS(CMarlixDlg)

 public:
  // Builds the dialog's controls from its template; OnInitDialog does the rest.
  CMarlixDlg();
  ~CMarlixDlg() override;

  // Start-up: port choice, wait dialog, controls, drop area, first view, web service, start-up
  // worker. False when the process was told to end (no free port).
  bool OnInitDialog();
  // The Close command: stops the web service, releases everything in order and ends the dialog.
  void ShutDown();

  // Handlers of the message map.
  void OnDropFiles(const QStringList& paths);
  void OnReachModeRadio(int id);
  void CopyShareLink();
  void ShowUploadPage();
  void ShowSharePage();
  void OpenReceivedFolder();
  // The context menu at a screen position (modal until an entry is chosen or it is dismissed): the
  // local addresses to pick from, and the settings entry. BuildContextMenu makes it; the caller owns it.
  void ShowContextMenu(const QPoint& globalPos);
  QMenu* BuildContextMenu();
  void OpenSettings();
  // The local address picked from the menu: used from now on and kept for the next run.
  void OnPickAddress(const std::string& address);

  // The view of the current page for a reachability mode (1 LAN, 2 WAN, 3 cloud).
  void RefreshView(int mode);
  void BuildLanAddress(const std::string& token);
  void BuildWanAddress(CMainDialogView* dialog, const std::string& token);
  void UpdateItemCaption();

  // A control by its template id (IDC_CAPTION for the caption line).
  QWidget* GetDlgItem(int id) const;
  CTransparentStatic* DropArea() const { return m_pDropArea.get(); }
  CSystemNotReadyDlg* WaitDialog() const { return m_pWaitDlg.get(); }
  CWebService* Server() const { return m_pServer; }
  bool IsShutDown() const { return m_bShutDown; }

  // CMainDialogView: safe from any thread.
  void ShowProgress() override;
  void SetProgressPos(int pos) override;
  void HideProgress() override;
  void ShowCaption() override;
  void SetCaption(const std::string& text) override;
  std::string GetCaption() override;
  void SetReceivedCount(int count) override;
  int CheckedReachRadio() override;
  void SetStatus(const std::string& text) override;
  void ShowMessage(const std::string& text, const std::string& openAfter = {}) override;

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateControls();
  // The router port opening behind the wait dialog; true when an external address was mapped.
  bool RunPortOpening();
  bool OnInterfaceThread() const;
  // Runs the change now on the interface thread, else queues it there.
  template <class F>
  void OnInterface(F&& change);
  // Caption line and radio mirror, written on the interface thread.
  void SetCaptionText(const QString& text);
  void MirrorRadios();
  // Hides the progress bar and sets it back to 0.
  void ResetProgress();
  // The address picked in an earlier run, from the settings, into ChosenAddress.
  void LoadChosenAddress();
  // The drop area's tooltip: the address shown, else the local address.
  void UpdateAddressTooltip();

  // Members of the design, all empty until OnInitDialog.
  CWebService* m_pServer = nullptr;
  std::unique_ptr<CTransparentStatic> m_pDropArea;
  std::unique_ptr<CSystemNotReadyDlg> m_pWaitDlg;

  // Controls of template 102.
  QLabel* m_pStatus = nullptr;
  QLabel* m_pTemplateLabel = nullptr;
  QPushButton* m_pClose = nullptr;
  QRadioButton* m_pRadioLan = nullptr;
  QRadioButton* m_pRadioWan = nullptr;
  QRadioButton* m_pRadioCloud = nullptr;
  QProgressBar* m_pProgress = nullptr;
  QPushButton* m_pShare = nullptr;
  QPushButton* m_pUploadPage = nullptr;
  QLabel* m_pCaption = nullptr;
  QPushButton* m_pSharePage = nullptr;
  QPushButton* m_pReceived = nullptr;

  bool m_bOpeningPort = false;
  bool m_bShutDown = false;

  // What workers read, mirrored under m_mirrorLock.
  std::mutex m_mirrorLock;
  std::string m_mirrorCaption;
  int m_mirrorRadio = 0;
};

// The start-up worker: signs in to the service, then finds the local address; returns 0.
int WorkerThread(CMarlixDlg* dialog);
