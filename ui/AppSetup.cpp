#include "ui/AppSetup.h"

#include "OstrelVersion.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QProxyStyle>
#include <QTranslator>

#include "ui/NavIcons.h"

namespace {

// The platform's style, but the extension button of a menu bar gets a drawn
// icon: the style's own is an image file, whose reading loads every image
// format plugin while the window is being built.
class TWindowStyle : public QProxyStyle {
 public:
  QIcon standardIcon(StandardPixmap which, const QStyleOption* option, const QWidget* widget) const override {
    if (which == SP_ToolBarHorizontalExtensionButton) return NavIcon(TNavIcon::ExtendRight);
    if (which == SP_ToolBarVerticalExtensionButton) return NavIcon(TNavIcon::ExtendDown);
    return QProxyStyle::standardIcon(which, option, widget);
  }
};

}  // namespace

QIcon ProgramIcon() { return QIcon(QStringLiteral(":/icons/ostrelgsm4.svg")); }

bool LoadQtTranslations() {
  // The translator lives as long as the application that uses it.
  auto* translator = new QTranslator(qApp);
  if (!translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  return true;
}

void SetUpApplication() {
  // No display name: Qt would append it to every caption (" — OstrelGSM4"),
  // and the captions are the window's own.
  QApplication::setApplicationName(QStringLiteral("OstrelGSM4"));
  QApplication::setStyle(new TWindowStyle);
  QApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("ostrelgsm4"));
  // The icon is the window's own, set once it is on the screen (loading the
  // SVG engine would delay the window's first appearance).
  // All texts of the program are Russian, so are those of Qt's own dialogs.
  LoadQtTranslations();
  // Sizes and dates in the file dialogs, too.
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  // The window was designed for an 8-point sans-serif font.
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPointSize(8);
  QApplication::setFont(font);
}
