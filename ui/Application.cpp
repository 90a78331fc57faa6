#include "ui/Application.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

namespace ui {
namespace {

// The templates ask for this face; fontconfig knows no alias for it, so we name the
// metric-compatible free face first and a broad Japanese face as the last resort.
void registerFontSubstitutes() {
  static bool done = false;
  if (done) return;
  done = true;
  QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"),
                             {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
}

bool installQtTranslation() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  static const char* const kName = "relvane-qtbase-ja";
  if (app->findChild<QTranslator*>(QLatin1String(kName), Qt::FindDirectChildrenOnly)) return true;
  auto* translator = new QTranslator(app);  // owned by the application object
  translator->setObjectName(QLatin1String(kName));
  if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

}  // namespace

bool initApplication() {
  registerFontSubstitutes();
  return installQtTranslation();
}

QFont dialogFont(const char* face, int pointSize) {
  QFont font(QString::fromUtf8(face));
  font.setPointSize(pointSize);
  return font;
}

}  // namespace ui
