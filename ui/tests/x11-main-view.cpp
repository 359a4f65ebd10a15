#include "main-view-fixture.h"

#include "BackupItemDialog.h"
#include "BackupProcessSheet.h"
#include "LumoSuitePage.h"
#include "PasswordQuerySheet.h"
#include "RestoreDeleteFileQueryDialog.h"
#include "RestoreProcessSheet.h"
#include "StartRestoreQueryDialog.h"
#include "TkApplication.h"
#include "TkBanner.h"
#include "TkLockIcon.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QTextEdit>
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
  for (QTextEdit *view : window->findChildren<QTextEdit *> ())
    if (view->isVisible ())
      texts << view->toPlainText ();
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
    /* Paint events reach the server before its picture is taken; cells shown by a list that
     * has just loaded are painted only after a turn of the event loop. */
    window->repaint ();
    QTest::qWait (200);
    QPixmap picture = window->screen ()->grabWindow (window->winId ());
    ASSERT_EQ (picture.size (), TkApplicationWindow::phoneSize ()) << qPrintable (name);
    QDir ().mkpath (SAFEHOLD_SCREENSHOT_DIR);
    EXPECT_TRUE (picture.save (SAFEHOLD_SCREENSHOT_DIR "/" + name + ".png"));
    /* Rendered text brings anti-aliased shades; a blank or unpainted window has one or two. */
    QImage image = picture.toImage ().convertToFormat (QImage::Format_RGB32);
    lastPicture = image;
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

  /* Photographs box over the page it covers and checks that it is drawn inside that page's
   * window, as a phone toolkit draws it: no window of its own, the box within the 480x854
   * window, and the page around it dimmed on the server's picture. */
  void screenshotBox (TkMessageBox *box, const QString &name,
                      std::initializer_list<const char *> ids)
  {
    ASSERT_NE (box, nullptr) << qPrintable (name);
    ASSERT_FALSE (box->isWindow ()) << qPrintable (name) << " has a window of its own";
    QWidget *window = box->window ();
    ASSERT_NO_FATAL_FAILURE (screenshot (window, name, ids));
    EXPECT_EQ (box->geometry (), window->rect ()) << qPrintable (name) << " covers its page";
    QRect panel (box->panel ()->mapTo (window, QPoint (0, 0)), box->panel ()->size ());
    EXPECT_TRUE (window->rect ().contains (panel))
        << qPrintable (name) << ": the box at " << panel.x () << "," << panel.y () << " "
        << panel.width () << "x" << panel.height () << " is not inside the window";
    /* The page's light background beneath the box's corners is dimmed; the box itself is not. */
    for (QPoint corner : { QPoint (2, window->height () - 3),
                           QPoint (window->width () - 3, window->height () - 3) })
      EXPECT_LT (qGray (lastPicture.pixel (corner)), 128)
          << qPrintable (name) << ": the page is not dimmed at " << corner.x () << ","
          << corner.y ();
    EXPECT_GT (qGray (lastPicture.pixel (panel.center ().x (), panel.top () + 4)), 128)
        << qPrintable (name) << ": the box is not painted";
  }

  QHash<QString, QString> catalogue;
  QImage lastPicture;
};
} // namespace

TEST_F (MainViewOnX11, EveryStateIsShownInEnglish)
{
  /* The contacts application takes six seconds, so the process sheet and the cancel question stay
   * up for their pictures. */
  DBusMock exporter (G_BUS_TYPE_SESSION, "com.test.exporter", "/exporter",
                     "com.korvel.backupclient");
  exporter.add_method ("backup", "as", "y", "time.sleep(6)\nret = dbus.Byte(0)");
  configure ("com.test.exporter");
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD");
  writeFile (home + "/settings.db", "settings");
  openView ();
  screenshot (view, "empty-state",
              { "qtn_back_backuprestoretitle", "qtn_back_newbackuptitle", "qtn_back_emptystate" });

  view->findChild<QPushButton *> ("newBackupButton")->click ();
  NewBackupDialog *sheet = visible<NewBackupDialog> ();
  ASSERT_NE (sheet, nullptr);
  const QString notes = "Before the trip: passport, tickets, the charger, the blue jacket and the "
                        "spare keys of the flat";
  sheet->findChild<QLineEdit *> ("notesField")->setText (notes);
  screenshot (sheet, "new-backup-sheet",
              { "qtn_back_newbackuptitle", "qtn_back_start", "qtn_comm_cancel",
                "qtn_back_backupfilecontents", "qtn_back_password_protect",
                "qtn_back_password_confirm" });
  sheet->findChild<QLineEdit *> ("passwordField")->setText ("s3cret");
  sheet->findChild<QLineEdit *> ("confirmField")->setText ("s3cret");
  previousEngine = view->findChild<BackupEngine *> ();
  sheet->acceptButton ()->click ();

  ASSERT_TRUE (QTest::qWaitFor ([this] { return visible<BackupProcessSheet> () != nullptr; }));
  BackupProcessSheet *process = visible<BackupProcessSheet> ();
  screenshot (process, "backup-process-sheet",
              { "qtn_back_newbackuptitle", "qtn_back_creatingbackup", "qtn_comm_cancel" });
  /* The cancel question over the running backup; going on keeps the backup. */
  process->cancelButton ()->click ();
  TkMessageBox *cancel = box ("qtn_back_cancel_backup");
  screenshotBox (cancel, "cancel-question",
                 { "qtn_back_cancel_backup", "qtn_back_stop_backup", "qtn_back_continue_backup" });
  ASSERT_NE (cancel, nullptr);
  EXPECT_EQ (cancel->window (), process);
  cancel->button (QDialogButtonBox::Cancel)->click ();

  /* The banner says which backup was made; it goes after a few seconds, so it is photographed as
   * soon as the list is back, or at once when the list takes longer. */
  QSignalSpy listed (view, &BackupMainView::backupsUpdated);
  ASSERT_TRUE (QTest::qWaitFor ([this] { return visible<TkBanner> () != nullptr; }, waitMs));
  listed.wait (1500);
  const QString done = catalogue.value ("qtn_back_backup_created").arg ("Backup0");
  EXPECT_EQ (done, "Backup0 created");
  TkBanner *banner = visible<TkBanner> ();
  ASSERT_NE (banner, nullptr) << "the banner went before its picture";
  screenshot (view, "backup-done-banner", {});
  EXPECT_TRUE (visibleTexts (view).contains (done))
      << qPrintable (visibleTexts (view).join (" | "));
  EXPECT_TRUE (
      view->rect ().contains (QRect (banner->mapTo (view, QPoint (0, 0)), banner->size ())));
  banner->close ();
  waitForListed ("Backup0");

  /* A name from the card is shown as it is, never as markup. */
  const QString hostile = "<b>x<img src=&#47;tmp&#47;p.png>";
  writeRecord (hostile, 1000);
  waitForListed (hostile);
  /* The list: the notes as the second line of the backup, cut at its end, and the drawn lock. */
  screenshot (view, "list-view", { "qtn_back_backuprestoretitle", "qtn_back_newbackuptitle" });
  EXPECT_TRUE (visibleTexts (view).contains ("Backup0"));
  EXPECT_TRUE (visibleTexts (view).contains (hostile));
  EXPECT_TRUE (visibleTexts (view).contains (notes));
  TkLockIcon *lock = visible<TkLockIcon> ();
  ASSERT_NE (lock, nullptr);
  EXPECT_EQ (lock->accessibleName (), catalogue.value ("qtn_back_protected"));
  EXPECT_TRUE (view->rect ().contains (QRect (lock->mapTo (view, QPoint (0, 0)), lock->size ())));

  view->listItemTapped (listedBackup (hostile));
  ASSERT_NE (visible<BackupItemDialog> (), nullptr);
  screenshot (visible<BackupItemDialog> (), "item-sheet-card-name",
              { "qtn_back_backup_options", "qtn_back_restore", "qtn_back_delete", "qtn_comm_cancel",
                "qtn_back_backupfilecontents2" });
  EXPECT_TRUE (visibleTexts (visible<BackupItemDialog> ()).contains (hostile));
  visible<BackupItemDialog> ()->cancelButton ()->click ();

  /* The item sheet shows the notes whole; its questions are drawn over it. */
  view->listItemTapped (listedBackup ("Backup0"));
  BackupItemDialog *item = visible<BackupItemDialog> ();
  ASSERT_NE (item, nullptr);
  screenshot (item, "item-sheet",
              { "qtn_back_backup_options", "qtn_back_restore", "qtn_back_delete", "qtn_comm_cancel",
                "qtn_back_backupfilecontents2", "qtn_back_protected" });
  EXPECT_TRUE (visibleTexts (item).contains (notes));

  item->findChild<QPushButton *> ("deleteButton")->click ();
  auto *remove = visible<RestoreDeleteFileQueryDialog> ();
  screenshotBox (remove, "delete-question",
                 { "qtn_back_deletethisbackup_tit", "qtn_comm_yes", "qtn_comm_no" });
  ASSERT_NE (remove, nullptr);
  EXPECT_EQ (remove->window (), item);
  remove->button (QDialogButtonBox::No)->click ();

  item->findChild<QPushButton *> ("restoreButton")->click ();
  auto *restore = visible<StartRestoreQueryDialog> ();
  screenshotBox (restore, "restore-question",
                 { "qtn_back_restoretheseitems", "qtn_comm_yes", "qtn_comm_no" });
  ASSERT_NE (restore, nullptr);
  EXPECT_EQ (restore->window (), item);
  EXPECT_EQ (restore->title (), catalogue.value ("qtn_back_restore_named_tit").arg ("Backup0"));
  restore->button (QDialogButtonBox::Yes)->click ();

  /* A wrong password: said in the sheet, which keeps the focus in its emptied field. */
  ASSERT_TRUE (QTest::qWaitFor ([this] { return visible<PasswordQuerySheet> () != nullptr; }));
  PasswordQuerySheet *password = visible<PasswordQuerySheet> ();
  ASSERT_TRUE (QTest::qWaitForWindowActive (password));
  QLineEdit *field = password->findChild<QLineEdit *> ("passwordField");
  field->setText ("wrong");
  password->acceptButton ()->click ();
  screenshot (
      password, "wrong-password",
      { "qtn_back_password_query_tit", "qtn_comm_ok", "qtn_comm_cancel", "qtn_back_password" });
  EXPECT_TRUE (visibleTexts (password).contains ("Wrong password, 2 attempts left"))
      << qPrintable (visibleTexts (password).join (" | "));
  EXPECT_TRUE (field->hasFocus ());
  EXPECT_TRUE (field->text ().isEmpty ());
  password->cancelButton ()->click ();
  EXPECT_FALSE (view->restoreIsRunning ());

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
