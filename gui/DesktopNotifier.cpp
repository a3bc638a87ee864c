#include "gui/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

const char kService[] = "org.freedesktop.Notifications";
const char kPath[] = "/org/freedesktop/Notifications";
const char kInterface[] = "org.freedesktop.Notifications";
constexpr int kTextStart = 120;  // characters of a text shown in its notification

}  // namespace

CDesktopNotifier::CDesktopNotifier(QObject* parent) : QObject(parent) {}

bool CDesktopNotifier::ServiceAvailable() const {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface()) return false;
  const QString service = QString::fromLatin1(kService);
  const QDBusReply<bool> running = bus.interface()->isServiceRegistered(service);
  if (running.isValid() && running.value()) return true;
  const QDBusReply<QStringList> activatable = bus.interface()->activatableServiceNames();
  return activatable.isValid() && activatable.value().contains(service);
}

void CDesktopNotifier::FileArrived(const QString& name) {
  const bool sameBurst = m_burstFiles > 0 && m_lastFile.isValid() && m_lastFile.elapsed() <= m_burstMs;
  m_lastFile.start();
  if (!sameBurst) {
    m_burstFiles = 0;
    m_burstId = 0;
    m_countDue = false;
    m_firstName = name;
    ++m_burstSerial;
  }
  if (++m_burstFiles == 1)
    Send(tr("收到文件"), name, 0, true);
  else if (m_burstId != 0)
    SendBurstCount();
  else
    m_countDue = true;  // once the service has named the first one
}

void CDesktopNotifier::SendBurstCount() {
  m_countDue = false;
  Send(tr("收到 %1 个文件").arg(m_burstFiles), m_firstName + QStringLiteral(" …"), m_burstId, true);
}

void CDesktopNotifier::TextArrived(const QString& text) {
  QString start = text.left(kTextStart);
  if (text.size() > kTextStart) start += QStringLiteral("…");
  m_burstFiles = 0;  // a text ends a burst of files
  m_countDue = false;
  ++m_burstSerial;
  Send(tr("收到文字"), start, 0, false);
}

void CDesktopNotifier::Send(const QString& summary, const QString& body, uint replaces, bool burst) {
  if (!ServiceAvailable()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!m_listening) {
    m_listening = bus.connect(QString(), QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                              QStringLiteral("ActionInvoked"), this, SLOT(OnActionInvoked(uint, QString)));
  }
  QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                     QString::fromLatin1(kInterface), QStringLiteral("Notify"));
  // The body is markup for some services: plain text is escaped.
  call << QStringLiteral("Marlix") << replaces << QStringLiteral("marlix") << summary << body.toHtmlEscaped()
       << QStringList{QStringLiteral("default"), tr("打开")} << QVariantMap() << -1;
  ++m_sent;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  const bool first = burst && m_burstFiles == 1;
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, first, serial = m_burstSerial](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusPendingReply<uint> reply = *w;
            if (reply.isError()) return;
            m_ids.insert(reply.value());
            // Still the same burst: its updates replace this notification.
            if (first && serial == m_burstSerial && m_burstFiles >= 1) {
              m_burstId = reply.value();
              if (m_countDue) SendBurstCount();
            }
          });
}

void CDesktopNotifier::OnActionInvoked(uint id, const QString& action) {
  if (m_ids.contains(id) && action == QStringLiteral("default") && OnActivated) OnActivated();
}
