#pragma once
// The settings dialog, opened from the main dialog's menus: the relay address, the working directory
// and the port, kept in QSettings("Marlix", "Marlix") under relay/address, paths/home and
// network/port.
// Environment variables (MARLIX_SERVICE_HOST, MARLIX_HOME) win over what is kept here while they are
// set: the running Marlix's configuration says so, and their fields then show the variable's value,
// say where it comes from and cannot be edited. Interface thread only.

#include <QCoreApplication>
#include <QDialog>
#include <QString>
#include <string>

#include "app/MarlixConfig.h"

class QLineEdit;
struct SharedState;

class CSettingsDlg : public QDialog {
  Q_DECLARE_TR_FUNCTIONS(CSettingsDlg)

 public:
  // The relay applies to `state` (the running Marlix's) when saved; `config` is the one it was made with.
  CSettingsDlg(SharedState& state, const CMarlixConfig& config, QWidget* parent);

  QLineEdit* RelayEdit() const { return m_pRelay; }
  QLineEdit* HomeEdit() const { return m_pHome; }
  QLineEdit* PortEdit() const { return m_pPort; }

  // Checks and keeps the fields; the relay applies at once, the working directory at the next start.
  // False (with a message box) when the relay address is not HOST or HOST:PORT.
  bool Save();

 protected:
  void accept() override;

 private:
  SharedState& m_state;
  QLineEdit* m_pRelay = nullptr;
  QLineEdit* m_pHome = nullptr;
  QLineEdit* m_pPort = nullptr;
};

// The kept port (applied at the next start), or 0 for the first free one of 8081 to 8091.
int KeptPort();

// The kept working directory and relay, for the configuration made at start.
CKeptSettings KeptSettingsAtStart();
