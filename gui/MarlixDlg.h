#pragma once
// The main dialog: the drop area, the status line, the reachability radio buttons,
// the page buttons, the Share button, the progress bar with the caption line, the received-files
// button and the Close button.
//
// Its handlers run on the interface thread. It tells the running Marlix's share session what the user
// did and draws the view the session answers with. The core's threads reach it only through the
// event channel: every event is queued to the interface thread, so no report ever waits for it. The
// window words the core's events itself, with Qt's translations (Words).

#include <QCoreApplication>
#include <QDialog>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/MainDialogView.h"
#include "app/Modes.h"
#include "service/Marlix.h"
#include "service/ShareFlow.h"

class CPortOpeningWaitDlg;
class CDropArea;
class CReceivedTextBox;
class CReceivedList;
class CDesktopNotifier;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class CWebService;

// Control ids of the main dialog (the caption line has -1).
enum : int {
  IDC_CLOSE = 2,
  IDC_DROP_AREA = 1000,
  IDC_STATUS = 1001,
  IDC_RADIO_LAN = 1007,
  IDC_RADIO_WAN = 1008,
  IDC_RADIO_CLOUD = 1009,
  IDC_PROGRESS = 1010,
  IDC_SHARE = 1011,
  IDC_UPLOAD_PAGE = 1012,
  IDC_SHARE_PAGE = 1013,
  IDC_RECEIVED = 1014,
  IDC_MENU = 1015,
  IDC_CAPTION = -1,
};

// What the window says for one event: the text of the caption or status line (or of the drop area),
// and the text of a message box. Either may be empty; both are for an event that only moves the bar.
struct CWindowWords {
  QString Line;
  QString Message;
};

class CMarlixDlg : public QDialog, public CMainDialogView {
  Q_DECLARE_TR_FUNCTIONS(CMarlixDlg)

 public:
  // Builds the dialog's controls at their layout places; OnInitDialog does the rest. The window is
  // the front end of that running Marlix, which outlives it.
  explicit CMarlixDlg(CMarlix& marlix);
  ~CMarlixDlg() override;

  // Start-up: port choice, wait dialog, controls, drop area, first view, web service, start-up
  // worker. False when the process was told to end (no free port).
  bool OnInitDialog();
  // The Close command: ends the share session (CShareSession::End), releases the window's parts and
  // ends the dialog. The destructor ends the session the same way when the close did not.
  void ShutDown();
  // Close, the window manager's close and Ctrl+Q: while items are shared or a transfer is under
  // way, asks once whether to stop sharing and quit (unless told not to ask again), then ShutDown.
  // Escape closes nothing. False when the user chose to stay.
  bool RequestClose();

  // What the controls and drops run.
  // Shares every path (the last one shown); on the upload page it turns to the download page first.
  void OnDropFiles(const QStringList& paths);
  // The desktop's file chooser (a click on the drop area, Ctrl+O, the menus): several files, or one
  // folder; what is chosen is shared as a drop of it.
  void OpenFiles();
  void OpenFolder();
  // Shows an item shared earlier in this run again (the "shared items" menu), by its place in SharedItems.
  void ShowSharedItem(size_t index);
  const std::vector<CSharedItem>& SharedItems() const { return m_session.Items(); }
  // Looks for a local address while there is none, and shows the codes once one appears (every few
  // seconds, on a timer of the window).
  void CheckNetwork();
  // Shares a text as a page with a copy button (kind "m"), as a dropped file is shared; a text
  // over 64 KiB, or one that cannot be stored, is refused with a message. False when not shared.
  bool ShareText(const QString& text);
  // Ctrl+V and the context menu: the clipboard's files as dropped ones, else its text by ShareText.
  void PasteText();
  void OnReachModeRadio(int id);
  void CopyShareLink();
  void ShowUploadPage();
  void ShowSharePage();
  void OpenReceivedFolder();
  // The received-files button: the list of what phones sent in this run.
  void OpenReceivedList();
  CReceivedList* ReceivedList() const { return m_pReceivedList.get(); }
  CDesktopNotifier* Notifier() const { return m_pNotifier; }
  // The context menu at a screen position (modal until an entry is chosen or it is dismissed): the
  // local addresses to pick from, then the window menu's commands. BuildContextMenu makes it; the
  // caller owns it. The window menu (the menu button) holds the commands alone.
  void ShowContextMenu(const QPoint& globalPos);
  QMenu* BuildContextMenu();
  QMenu* BuildWindowMenu();
  void OpenSettings();
  // The local address picked from the menu: used from now on and kept for the next run.
  void OnPickAddress(const std::string& address);

  // The view of the current page for a reachability mode.
  void RefreshView(ReachMode mode);
  void UpdateItemCaption();

  // A control by its id (IDC_CAPTION for the caption line).
  QWidget* GetDlgItem(int id) const;
  CDropArea* DropArea() const { return m_pDropArea.get(); }
  CPortOpeningWaitDlg* WaitDialog() const { return m_pWaitDlg.get(); }
  CWebService* Server() const { return m_marlix.Web(); }
  SharedState& State() const { return m_state; }
  CShareSession& Session() const { return m_session; }
  bool IsShutDown() const { return m_bShutDown; }

  // CMainDialogView: safe from any thread.
  void Report(const CViewEvent& event) override;
  // A text a phone sent: listed, notified, and shown in the received-text box (made on first use), in
  // place of the one before. Interface thread.
  void ShowReceivedText(const std::string& text);
  CReceivedTextBox* ReceivedTextBox() const { return m_pReceivedText.get(); }

  // The event in the window's language (the installed translation, else the Chinese source). Any thread.
  static CWindowWords Words(const CViewEvent& event);

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateControls();
  // The checks before a share (not on the upload page, the Internet mode's port opening done).
  bool ReadyToShare();
  // Shows the session's current item on the download page.
  void ShowCurrentItem();
  // The download page in a mode, drawn from the session's view of it.
  void DrawSharePage(ReachMode mode);
  // Draws what the session answered: the drop area, the caption and the tooltip.
  void DrawView(const CShareViewState& view);
  // The window's commands, for the window menu and the context menu.
  void AddCommands(QMenu* menu);
  // Something a close would end: shared items, or a transfer under way.
  bool Busy() const;
  // The caption line of the page shown (the item's name, or the upload page's waiting line).
  void RestorePageCaption();
  // A file a phone sent has been stored (its path as the core shows it): listed, counted, and told
  // by a desktop notification while the window is not in front.
  void OnFileStored(const std::string& shownPath);
  bool InFront() const;
  // The window in front with the received list open (a notification's action).
  void BringToFrontWithList();
  // Shows a text whole in the text box (made on first use).
  void ShowTextBox(const QString& text);
  // The router port opening behind the wait dialog; true when an external address was mapped.
  bool RunPortOpening();
  bool OnInterfaceThread() const;
  // Runs the change now on the interface thread, else queues it there.
  template <class F>
  void OnInterface(F&& change);
  // An event reported to the window, on the interface thread.
  void ApplyEvent(const CViewEvent& event);
  // The relay stored nothing for the item: its reason on the status line and, while that item is
  // shown, in the place of its QR code; the address goes, and the next return to the cloud mode
  // uploads again.
  void ShowRelayFailure(const std::string& token, const QString& text);
  // The caption line; on the interface thread.
  void SetCaptionText(const QString& text);
  // Tells the core the mode whose radio button is checked (None when none is).
  void MirrorRadios();
  // Hides the progress bar and sets it back to 0.
  void ResetProgress();
  // The address picked in an earlier run, from the settings, into ChosenAddress.
  void LoadChosenAddress();
  // The drop area's tooltip: the address shown, else the local address.
  void UpdateAddressTooltip();

  CMarlix& m_marlix;
  SharedState& m_state;      // m_marlix's
  CShareSession& m_session;  // m_marlix's

  // Members of the design, all empty until OnInitDialog.
  std::unique_ptr<CDropArea> m_pDropArea;
  std::unique_ptr<CPortOpeningWaitDlg> m_pWaitDlg;
  std::unique_ptr<CReceivedTextBox> m_pReceivedText;
  std::unique_ptr<CReceivedList> m_pReceivedList;
  CDesktopNotifier* m_pNotifier = nullptr;

  // The controls.
  QLabel* m_pStatus = nullptr;
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
  QPushButton* m_pMenuButton = nullptr;
  QTimer* m_pNetworkCheck = nullptr;

  bool m_bOpeningPort = false;
  bool m_bShutDown = false;

  // Folder packings under way as the core last reported them, and the caption line's text from
  // before the first of them, which the last one puts back.
  int m_packings = 0;
  QString m_savedCaption;
};
