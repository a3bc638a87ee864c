#include "gui/UiTranslation.h"

#include <QCoreApplication>
#include <QTranslator>
#include <atomic>

#include "app/UiLanguage.h"

namespace {

std::atomic<bool> g_english{false};

QTranslator& Translator() {
  static QTranslator translator;
  return translator;
}

}  // namespace

bool InstallUiTranslation(const QString& dataDir) {
  if (UiSpeaksChinese() || dataDir.isEmpty()) return false;
  if (!Translator().load(QStringLiteral("marlix_en"), dataDir + QStringLiteral("/translations"))) return false;
  QCoreApplication::installTranslator(&Translator());
  g_english = true;
  return true;
}

void RemoveUiTranslation() {
  QCoreApplication::removeTranslator(&Translator());
  g_english = false;
}

QString CoreTextForUi(const std::string& text) {
  return QString::fromStdString(g_english ? EnglishCoreText(text) : text);
}
