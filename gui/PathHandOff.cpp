#include "gui/PathHandOff.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <memory>

#include "gui/MarlixDlg.h"

namespace {

constexpr int kHandOffTimeoutMs = 2000;
constexpr qint64 kMaxListBytes = 16 * 1024 * 1024;

}  // namespace

QString PathHandOffName() {
  // The user's own runtime folder where there is one, so that no other user can take the name.
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).ownerId() == ::getuid())
    return runtime + QStringLiteral("/marlix-paths");
  return QStringLiteral("marlix-paths-%1").arg(::getuid());
}

QStringList CommandLinePaths(const QStringList& arguments) {
  QStringList paths;
  for (const QString& argument : arguments)
    if (!argument.isEmpty()) paths << QDir::cleanPath(QFileInfo(argument).absoluteFilePath());
  return paths;
}

bool HandPathsToRunningWindow(const QStringList& paths, const QString& name) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(kHandOffTimeoutMs)) return false;
  QByteArray list;
  for (const QString& path : paths) list += path.toUtf8() + '\0';
  socket.write(list);
  if (!socket.waitForBytesWritten(kHandOffTimeoutMs)) return false;
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kHandOffTimeoutMs);
  return true;
}

CPathReceiver::CPathReceiver(CMarlixDlg* dialog, const QString& name)
    : m_pDialog(dialog), m_pServer(new QLocalServer(this)) {
  m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
  if (!m_pServer->listen(name) && m_pServer->serverError() == QAbstractSocket::AddressInUseError) {
    // Nobody answered there (or this window would not have started): an ended window's socket.
    QLocalServer::removeServer(name);
    m_pServer->listen(name);
  }
  connect(m_pServer, &QLocalServer::newConnection, this, [this] { OnConnection(); });
}

CPathReceiver::~CPathReceiver() = default;

bool CPathReceiver::IsListening() const { return m_pServer->isListening(); }

void CPathReceiver::OnConnection() {
  while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
    auto received = std::make_shared<QByteArray>();
    connect(socket, &QLocalSocket::readyRead, socket, [socket, received] {
      *received += socket->readAll();
      if (received->size() > kMaxListBytes) socket->abort();
    });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket, received] {
      *received += socket->readAll();
      socket->deleteLater();
      if (received->size() > kMaxListBytes) return;  // cut off: nothing of it is shared
      QStringList paths;
      for (const QByteArray& path : received->split('\0'))
        if (!path.isEmpty()) paths << QString::fromUtf8(path);
      if (paths.isEmpty() || m_pDialog->IsShutDown()) return;
      m_pDialog->OnDropFiles(paths);
      m_pDialog->show();
      m_pDialog->raise();
      m_pDialog->activateWindow();
    });
  }
}
