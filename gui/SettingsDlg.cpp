#include "gui/SettingsDlg.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

#include "app/SharedState.h"
#include "gui/DialogServices.h"
#include "service/ServiceConfig.h"

namespace {

const char kRelayKey[] = "relay/address";
const char kHomeKey[] = "paths/home";
const char kPortKey[] = "network/port";

QSettings KeptSettings() { return QSettings(QStringLiteral("Marlix"), QStringLiteral("Marlix")); }

}  // namespace

CSettingsDlg::CSettingsDlg(SharedState& state, const CMarlixConfig& config, QWidget* parent)
    : QDialog(parent), m_state(state) {
  setWindowTitle(tr("设置"));
  QSettings settings = KeptSettings();
  auto* form = new QFormLayout(this);

  m_pRelay = new QLineEdit(settings.value(kRelayKey).toString(), this);
  m_pRelay->setPlaceholderText(QStringLiteral("https://relay.example.org"));
  if (config.RelayFromEnvironment) {
    m_pRelay->setText(QString::fromStdString(config.Relay));
    m_pRelay->setEnabled(false);
    m_pRelay->setToolTip(tr("由环境变量 MARLIX_SERVICE_HOST 指定"));
  }
  form->addRow(tr("云中转服务器:"), m_pRelay);
  form->addRow(new QLabel(
      tr("主机[:端口]，可加 https:// 或 http://，例如 https://relay.example.org。\n留空则不使用云中转。"), this));

  m_pHome = new QLineEdit(settings.value(kHomeKey).toString(), this);
  m_pHome->setPlaceholderText(QDir::homePath() + QStringLiteral("/Marlix"));
  auto* browse = new QPushButton(tr("浏览…"), this);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString chosen = QFileDialog::getExistingDirectory(this, tr("工作目录"), m_pHome->text());
    if (!chosen.isEmpty()) m_pHome->setText(chosen);
  });
  if (config.HomeFromEnvironment) {
    m_pHome->setText(QString::fromStdString(config.Home));
    m_pHome->setEnabled(false);
    browse->setEnabled(false);
    m_pHome->setToolTip(tr("由环境变量 MARLIX_HOME 指定"));
  }
  auto* homeRow = new QHBoxLayout;
  homeRow->addWidget(m_pHome);
  homeRow->addWidget(browse);
  form->addRow(tr("工作目录:"), homeRow);
  form->addRow(new QLabel(tr("工作目录在下次启动时生效。"), this));

  const int kept = settings.value(kPortKey).toInt();
  m_pPort = new QLineEdit(kept > 0 ? QString::number(kept) : QString(), this);
  m_pPort->setPlaceholderText(QStringLiteral("8081–8091"));
  form->addRow(tr("端口:"), m_pPort);
  form->addRow(new QLabel(tr("只使用这个端口；留空则用 8081–8091 中第一个空闲的。下次启动时生效。"), this));
  // Each field is wide enough for the text it shows when empty.
  for (QLineEdit* edit : {m_pRelay, m_pHome, m_pPort}) {
    const int text = edit->fontMetrics().horizontalAdvance(edit->placeholderText());
    edit->setMinimumWidth(text + 4 * edit->fontMetrics().averageCharWidth());
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

bool CSettingsDlg::Save() {
  QSettings settings = KeptSettings();
  if (m_pRelay->isEnabled()) {
    const QString relay = m_pRelay->text().trimmed();
    std::string host;
    int port = 0;
    QString hostPart = relay;
    for (const char* scheme : {"https://", "http://"})
      if (hostPart.startsWith(QLatin1String(scheme))) hostPart = hostPart.mid(static_cast<int>(std::strlen(scheme)));
    if (!relay.isEmpty() &&
        (hostPart.contains(QLatin1Char('/')) || !SplitHostPort(hostPart.toStdString(), host, port))) {
      ShowMessageBox(this, tr("中转服务器地址应为 主机[:端口]，可加 https:// 或 http://"));
      return false;
    }
    settings.setValue(kRelayKey, relay);
    m_state.ConfiguredRelay.Set(relay.toStdString());
  }
  const QString portText = m_pPort->text().trimmed();
  bool number = false;
  const int port = portText.toInt(&number);
  if (!portText.isEmpty() && (!number || port < 1 || port > 65535)) {
    ShowMessageBox(this, tr("端口应为 1 到 65535 之间的数，或留空"));
    return false;
  }
  settings.setValue(kPortKey, portText.isEmpty() ? 0 : port);
  if (m_pHome->isEnabled()) settings.setValue(kHomeKey, m_pHome->text().trimmed());
  settings.sync();
  return true;
}

void CSettingsDlg::accept() {
  if (Save()) QDialog::accept();
}

CKeptSettings KeptSettingsAtStart() {
  QSettings settings = KeptSettings();
  return {.Home = settings.value(kHomeKey).toString().trimmed().toStdString(),
          .Relay = settings.value(kRelayKey).toString().trimmed().toStdString()};
}

int KeptPort() {
  const int port = KeptSettings().value(kPortKey).toInt();
  return port >= 1 && port <= 65535 ? port : 0;
}
