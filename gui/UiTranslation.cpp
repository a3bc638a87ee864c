#include "gui/UiTranslation.h"

#include <QCoreApplication>
#include <QTranslator>

#include "app/UiLanguage.h"

namespace {

QTranslator& Translator() {
  static QTranslator translator;
  return translator;
}

}  // namespace

bool InstallUiTranslation(const QString& dataDir) {
  if (UiSpeaksChinese() || dataDir.isEmpty()) return false;
  if (!Translator().load(QStringLiteral("marlix_en"), dataDir + QStringLiteral("/translations"))) return false;
  QCoreApplication::installTranslator(&Translator());
  return true;
}

void RemoveUiTranslation() { QCoreApplication::removeTranslator(&Translator()); }
