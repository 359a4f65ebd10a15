#include "main-view-fixture.h"

#include "BackupItemDialog.h"
#include "BackupProcessSheet.h"
#include "LumoSuitePage.h"
#include "RestoreProcessSheet.h"
#include "StartRestoreQueryDialog.h"
#include "TkApplication.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QXmlStreamReader>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace
{
/* English texts of the catalogue by logical ID, read from its source, not through Qt. */
QHash<QString, QString>
englishCatalogue ()
{
  QFile file (QStringLiteral (SAFEHOLD_SOURCE_DIR "/data/translations/safehold_en.ts"));
  QHash<QString, QString> texts;
  if (!file.open (QIODevice::ReadOnly))
    return texts;
  QXmlStreamReader reader (&file);
  QString id;
  while (!reader.atEnd ())
    if (reader.readNext () == QXmlStreamReader::StartElement)
      {
        if (reader.name () == QLatin1String ("message"))
          id = reader.attributes ().value ("id").toString ();
        else if (reader.name () == QLatin1String ("translation") && !id.isEmpty ())
          /* Plural forms are child elements: skipped, so that the reading goes on past them. */
          texts.insert (id, reader.readElementText (QXmlStreamReader::SkipChildElements));
      }
  /* A catalogue read only in part would leave later IDs unchecked. */
  if (reader.hasError ())
    texts.clear ();
  return texts;
}

/* Every text a person sees in window: labels, buttons, fields and their placeholders. */
QStringList
visibleTexts (QWidget *window)
{
  QStringList texts;
  for (QLabel *label : window->findChildren<QLabel *> ())
    if (label->isVisible () && !label->text ().isEmpty ())
      texts << label->text ();
  for (QAbstractButton *button : window->findChildren<QAbstractButton *> ())
    if (button->isVisible () && !button->text ().isEmpty ())
      texts << button->text ();
  for (QLineEdit *field : window->findChildren<QLineEdit *> ())
    if (field->isVisible ())
      texts << field->text () << field->placeholderText ();
  texts.removeAll (QString ());
  return texts;
}

/* One 32-bit property of a window as the X server holds it, read over a connection of its own. */
std::vector<long>
cardinals (Display *display, Window window, const char *name)
{
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char *data = nullptr;
  std::vector<long> values;
  if (XGetWindowProperty (display, window, XInternAtom (display, name, False), 0, 16, False,
                          AnyPropertyType, &type, &format, &count, &after, &data)
          == Success
      && format == 32)
    values.assign (reinterpret_cast<long *> (data), reinterpret_cast<long *> (data) + count);
  if (data != nullptr)
    XFree (data);
  return values;
}

QStringList
protocols (Display *display, Window window)
{
  Atom *atoms = nullptr;
  int count = 0;
  QStringList names;
  if (XGetWMProtocols (display, window, &atoms, &count) == 0)
    return names;
  for (int i = 0; i < count; i++)
    {
      char *name = XGetAtomName (display, atoms[i]);
      names << QString::fromLatin1 (name);
      XFree (name);
    }
  XFree (atoms);
  return names;
}

/* The window as it is on the X server, as a person would see it; saved as name.png. */
class MainViewOnX11 : public MainViewFixture
{
protected:
  void SetUp () override
  {
    if (qEnvironmentVariableIsSet ("SAFEHOLD_NO_X_SERVER"))
      GTEST_SKIP () << "no X server: " << qgetenv ("SAFEHOLD_NO_X_SERVER").constData ();
    static int argc = 1;
    static char name[] = "safehold-ui-x11-test";
    static char *argv[] = { name, nullptr };
    if (QCoreApplication::instance () == nullptr)
      {
        qputenv ("QT_QPA_PLATFORM", "xcb");
        new TkApplication (argc, argv, QStringLiteral ("backup"), nullptr);
      }
    ASSERT_EQ (QGuiApplication::platformName (), "xcb");
    catalogue = englishCatalogue ();
    ASSERT_FALSE (catalogue.isEmpty ());
    MainViewFixture::SetUp ();
  }

  void TearDown () override
  {
    if (QCoreApplication::instance () != nullptr)
      MainViewFixture::TearDown ();
  }

  /* Saves window's picture from the server and checks that it shows the English texts of ids
   * and no logical ID at all. */
  void screenshot (QWidget *window, const QString &name, std::initializer_list<const char *> ids)
  {
    ASSERT_TRUE (QTest::qWaitForWindowExposed (window));
    /* Paint events reach the server before its picture is taken. */
    window->repaint ();
    QCoreApplication::processEvents ();
    QPixmap picture = window->screen ()->grabWindow (window->winId ());
    ASSERT_EQ (picture.size (), TkApplicationWindow::phoneSize ()) << qPrintable (name);
    QDir ().mkpath (SAFEHOLD_SCREENSHOT_DIR);
    EXPECT_TRUE (picture.save (SAFEHOLD_SCREENSHOT_DIR "/" + name + ".png"));
    /* Rendered text brings anti-aliased shades; a blank or unpainted window has one or two. */
    QImage image = picture.toImage ().convertToFormat (QImage::Format_RGB32);
    QSet<QRgb> shades;
    for (int y = 0; y < image.height (); y += 2)
      for (int x = 0; x < image.width (); x++)
        shades.insert (image.pixel (x, y));
    EXPECT_GT (shades.size (), 8) << qPrintable (name) << " shows nothing";

    QStringList texts = visibleTexts (window);
    static const QRegularExpression logicalId (QStringLiteral ("qtn_[a-z0-9_]+"));
    for (const QString &text : texts)
      EXPECT_FALSE (logicalId.match (text).hasMatch ())
          << qPrintable (name) << " shows the ID " << qPrintable (text);
    for (const char *id : ids)
      {
        ASSERT_TRUE (catalogue.contains (id)) << id;
        EXPECT_TRUE (texts.contains (catalogue.value (id)))
            << qPrintable (name) << " lacks \"" << qPrintable (catalogue.value (id)) << "\" (" << id
            << "); it shows: " << qPrintable (texts.join (" | "));
      }
  }

  QHash<QString, QString> catalogue;
};
} // namespace

TEST_F (MainViewOnX11, EveryStateIsShownInEnglish)
{
  /* The contacts application takes three seconds, so the process sheet stays up for its picture. */
  DBusMock exporter (G_BUS_TYPE_SESSION, "com.test.exporter", "/exporter",
                     "com.korvel.backupclient");
  exporter.add_method ("backup", "as", "y", "time.sleep(3)\nret = dbus.Byte(0)");
  configure ("com.test.exporter");
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD");
  writeFile (home + "/settings.db", "settings");
  openView ();
  screenshot (view, "empty-state",
              { "qtn_back_backuprestoretitle", "qtn_back_newbackuptitle", "qtn_back_emptystate" });

  view->findChild<QPushButton *> ("newBackupButton")->click ();
  NewBackupDialog *sheet = visible<NewBackupDialog> ();
  ASSERT_NE (sheet, nullptr);
  sheet->findChild<QLineEdit *> ("notesField")->setText ("Before the trip");
  screenshot (sheet, "new-backup-sheet",
              { "qtn_back_newbackuptitle", "qtn_back_start", "qtn_comm_cancel",
                "qtn_back_backupfilecontents", "qtn_back_password_protect",
                "qtn_back_password_confirm" });
  previousEngine = view->findChild<BackupEngine *> ();
  sheet->acceptButton ()->click ();

  ASSERT_TRUE (QTest::qWaitFor ([this] { return visible<BackupProcessSheet> () != nullptr; }));
  screenshot (visible<BackupProcessSheet> (), "backup-process-sheet",
              { "qtn_back_newbackuptitle", "qtn_back_creatingbackup", "qtn_comm_cancel" });
  ASSERT_EQ (finishBackup (), 100);
  ASSERT_EQ (listedNames (), QStringList{ "Backup0" });
  /* A name from the card is shown as it is, never as markup. */
  const QString hostile = "<b>x<img src=&#47;tmp&#47;p.png>";
  writeRecord (hostile, 1000);
  waitForListed (hostile);
  screenshot (view, "list-view", { "qtn_back_backuprestoretitle", "qtn_back_newbackuptitle" });
  EXPECT_TRUE (visibleTexts (view).contains ("Backup0"));
  EXPECT_TRUE (visibleTexts (view).contains (hostile));
  view->listItemTapped (listedBackup (hostile));
  ASSERT_NE (visible<BackupItemDialog> (), nullptr);
  screenshot (visible<BackupItemDialog> (), "item-sheet",
              { "qtn_back_backup_options", "qtn_back_restore", "qtn_back_delete", "qtn_comm_cancel",
                "qtn_back_backupfilecontents2" });
  EXPECT_TRUE (visibleTexts (visible<BackupItemDialog> ()).contains (hostile));
  visible<BackupItemDialog> ()->cancelButton ()->click ();

  setUsbMode ("mass_storage", "mass_storage");
  ASSERT_TRUE (QTest::qWaitFor ([this] { return visible<QLabel> ("noActivityLabel") != nullptr; }));
  screenshot (view, "no-activity-view",
              { "qtn_back_backuprestoretitle", "qtn_back_emptystate_msm" });
  EXPECT_FALSE (visibleTexts (view).contains (catalogue.value ("qtn_back_newbackuptitle")));
}

TEST_F (MainViewOnX11, RestoreSheetCannotBeMinimisedTakesTouchesEverywhereAndIsNeverPinged)
{
  configure ();
  writeFile (home + "/settings.db", "settings");
  openView ();
  startFromSheet ("to restore");
  ASSERT_EQ (finishBackup (), 100);

  Display *display = XOpenDisplay (nullptr);
  ASSERT_NE (display, nullptr);
  Window mainWindow = view->winId ();
  QStringList before = protocols (display, mainWindow);
  ASSERT_TRUE (before.contains ("_NET_WM_PING")) << qPrintable (before.join (' '));

  view->setUnitTestMode (true);
  view->listRestoreRequested (view->currentBackups ().constFirst ());
  StartRestoreQueryDialog *query = visible<StartRestoreQueryDialog> ();
  ASSERT_NE (query, nullptr);
  query->button (QDialogButtonBox::Yes)->click ();
  /* Read before events run again: the sheet closes itself when the restore ends. */
  RestoreProcessSheet *sheet = visible<RestoreProcessSheet> ();
  ASSERT_NE (sheet, nullptr);
  /* The program's requests are in effect before another client asks. */
  XSync (qGuiApp->nativeInterface<QNativeInterface::QX11Application> ()->display (), False);

  Window sheetWindow = sheet->winId ();
  EXPECT_EQ (cardinals (display, sheetWindow, "_TESSELTOUCH_CANNOT_MINIMIZE"),
             std::vector<long>{ 1 });
  EXPECT_EQ (cardinals (display, sheetWindow, "_TESSELTOUCH_CUSTOM_REGION"),
             (std::vector<long>{ 0, 0, sheet->width (), sheet->height () }));
  EXPECT_EQ (sheet->size (), TkApplicationWindow::phoneSize ());
  QStringList sheetProtocols = protocols (display, sheetWindow);
  EXPECT_FALSE (sheetProtocols.contains ("_NET_WM_PING"));
  EXPECT_TRUE (sheetProtocols.contains ("WM_DELETE_WINDOW")) << "the others are kept";
  QStringList after = protocols (display, mainWindow);
  EXPECT_FALSE (after.contains ("_NET_WM_PING"));
  before.removeAll ("_NET_WM_PING");
  EXPECT_EQ (after, before);
  EXPECT_TRUE (cardinals (display, mainWindow, "_TESSELTOUCH_CANNOT_MINIMIZE").empty ())
      << "the main window keeps its minimise";
  XCloseDisplay (display);
  ASSERT_TRUE (QTest::qWaitFor ([this] { return !view->isVisible (); }, waitMs));
}

TEST_F (MainViewOnX11, SuiteOperationPageCannotBeMinimisedTakesTouchesEverywhereAndIsNeverPinged)
{
  LumoSuitePage page (qtTrId ("qtn_back_creatingbackup"));
  page.showFullScreen ();
  ASSERT_TRUE (QTest::qWaitForWindowExposed (&page));
  XSync (qGuiApp->nativeInterface<QNativeInterface::QX11Application> ()->display (), False);

  Display *display = XOpenDisplay (nullptr);
  ASSERT_NE (display, nullptr);
  Window window = page.winId ();
  EXPECT_EQ (cardinals (display, window, "_TESSELTOUCH_CANNOT_MINIMIZE"), std::vector<long>{ 1 });
  EXPECT_EQ (cardinals (display, window, "_TESSELTOUCH_CUSTOM_REGION"),
             (std::vector<long>{ 0, 0, page.width (), page.height () }));
  QStringList names = protocols (display, window);
  EXPECT_FALSE (names.contains ("_NET_WM_PING"));
  EXPECT_TRUE (names.contains ("WM_DELETE_WINDOW")) << "the others are kept";
  XCloseDisplay (display);
}
