#include "TkApplication.h"

#include "TkApplicationService.h"
#include "TkTracing.h"

#include <QDir>
#include <QFont>
#include <QLocale>
#include <QTranslator>

#include <cstdlib>

namespace
{
const char *const catalogueName = "safehold";

/* Touch-sized controls and readable type on a desktop screen. */
const char *const phoneStyle = R"(
QWidget { font-size: 18px; }
QPushButton { min-height: 56px; padding: 0 18px; border-radius: 8px; border: 1px solid #8a8a8a;
              background: #f2f2f2; }
QPushButton:disabled { color: #9a9a9a; }
QPushButton#tkAcceptButton { background: #2a7ae2; color: white; border-color: #2a7ae2; }
QLineEdit { min-height: 52px; padding: 0 10px; border: 1px solid #8a8a8a; border-radius: 6px; }
QProgressBar { min-height: 16px; max-height: 16px; border: none; background: #dddddd;
               border-radius: 8px; text-align: center; }
QProgressBar::chunk { background: #2a7ae2; border-radius: 8px; }
QLabel#tkTitle { font-size: 24px; font-weight: bold; }
QLabel#tkBanner { background: #303030; color: white; padding: 18px; border-radius: 10px; }
QLabel#tkInlineMessage { color: #c0392b; }
QWidget#tkHeader { background: #e8e8e8; }
QMenu { font-size: 20px; }
QMenu::item { padding: 18px 32px; }
)";
} // namespace

TkApplication::TkApplication (int &argc, char **argv, const QString &identifier,
                              TkApplicationService *service)
    : QApplication (argc, argv), service_ (service)
{
  setApplicationName (identifier);
  setStyleSheet (QLatin1String (phoneStyle));
  if (!installCatalogue (*this))
    TK_TRACE ("No catalogue found, texts are shown by their IDs");
  if (service_ != nullptr && !service_->registerService ())
    {
      TK_TRACE ("Another instance runs and was asked to launch, exiting");
      std::exit (0);
    }
}

bool
TkApplication::installCatalogue (QCoreApplication &application)
{
  const QStringList directories = { QString::fromUtf8 (SAFEHOLD_BUILD_TRANSLATIONS_DIR),
                                    QString::fromUtf8 (SAFEHOLD_TRANSLATIONS_DIR) };
  auto *translator = new QTranslator (&application);
  for (const QString &directory : directories)
    {
      if (translator->load (QLocale (), QLatin1String (catalogueName), QStringLiteral ("_"),
                            directory)
          || translator->load (QStringLiteral ("%1_en").arg (QLatin1String (catalogueName)),
                               directory))
        {
          TK_TRACE ("Catalogue " + translator->filePath ());
          return application.installTranslator (translator);
        }
    }
  delete translator;
  return false;
}
