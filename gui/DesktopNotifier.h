#pragma once
// Desktop notifications of what phones sent, through the desktop's notification service
// (org.freedesktop.Notifications on the session bus, by QtDBus). Files that arrive within the burst
// window of each other share one notification, which counts them ("3 files received"); a text shows
// its start. The notification's default action runs OnActivated. With no session bus, or no such
// service on it (running or activatable), nothing is sent. Interface thread only.

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>

class CDesktopNotifier : public QObject {
  Q_OBJECT

 public:
  explicit CDesktopNotifier(QObject* parent);

  void FileArrived(const QString& name);
  void TextArrived(const QString& text);
  // Files that arrive at most this long after the one before count into its notification (2 s).
  void SetBurstWindow(int ms) { m_burstMs = ms; }
  // Notifications handed to the service so far (updates of a burst's one count too).
  int Sent() const { return m_sent; }
  // The user chose the notification (its default action).
  std::function<void()> OnActivated;

 private slots:
  void OnActionInvoked(uint id, const QString& action);

 private:
  bool ServiceAvailable() const;
  // Shows the notification, in place of the one with `replaces` (0 for a new one). For a burst's
  // notification, its id is kept for the updates.
  void Send(const QString& summary, const QString& body, uint replaces, bool burst);
  void SendBurstCount();

  QElapsedTimer m_lastFile;
  int m_burstMs = 2000;
  int m_burstFiles = 0;
  int m_burstSerial = 0;  // which burst is under way
  QString m_firstName;
  uint m_burstId = 0;       // the service's id of the burst's notification, once it has answered
  bool m_countDue = false;  // files came before that answer: the count is sent with it
  QSet<uint> m_ids;         // the service's ids of this run's notifications
  int m_sent = 0;
  bool m_listening = false;
};
