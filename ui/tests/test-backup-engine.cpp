#include "dbus-mock.h"
#include "test-data.h"
#include "tmpfs-mount.h"
#include "ui-test-owner.h"
#include "ui-test-support.h"

#include "sf-archiver-zip.h"
#include "sf-backup-info.h"
#include "sf-error.h"

#include "BackupEngine.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace
{
testing::Environment *const qtEnvironment = testing::AddGlobalTestEnvironment (new QtEnvironment);

const char *const clientInterface = "com.korvel.backupclient";
const int backupCategories = SF_CATEGORY_CONTACTS | SF_CATEGORY_SETTINGS;

/* A contacts export area and a settings database read in place, backed up to a fake card. */
class BackupEngineTest : public testing::Test
{
protected:
  void SetUp () override
  {
    sf_log_start (2);
    home = QDir::homePath ();
    useTarget (home + "/card");
  }

  void TearDown () override
  {
    owner.reset ();
    g_clear_object (&target);
    QDir (home + "/card").removeRecursively ();
    QDir (home + "/export").removeRecursively ();
    QFile::remove (home + "/settings.db");
  }

  void useTarget (const QString &root)
  {
    owner.reset ();
    g_clear_object (&target);
    QDir ().mkpath (root);
    target = sf_target_fake_new (("file://" + root).toUtf8 ().constData (), "card");
    owner = std::make_unique<TestOwner> (theBackend ());
  }

  /* service empty: the application has no D-Bus record. */
  void configure (const QString &exportService, const QString &settingsService)
  {
    configurations.add (
        "exporter", exportService.isEmpty () ? "permanent-backup-files" : "backup-dbus",
        exportService, "<location type=\"dir\" category=\"contacts\">$HOME/export</location>");
    configurations.add ("keeper", "permanent-backup-files", settingsService,
                        "<location type=\"permanent-backup-file\" category=\"settings\">"
                        "$HOME/settings.db</location>");
    configurations.load ();
  }

  BackupEngine *newEngine (const QString &notes = QString (), const QString &name = "Backup0")
  {
    QVariantMap parameters{ { "name", name }, { "notes", notes }, { "password", QString () } };
    return new BackupEngine (theBackend (), target, backupCategories, owner.get (), parameters);
  }

  /* Runs the engine to its end and returns its status. */
  int finish (BackupEngine *engine, QSignalSpy &spy)
  {
    EXPECT_TRUE (spy.size () == 1 || spy.wait (60000));
    delete engine;
    return spy.isEmpty () ? -1 : spy[0][0].toInt ();
  }

  SfBackupInfo *backup (const char *name = "Backup0")
  {
    return sf_target_get_backup_by_name (target, name);
  }

  /* The backup is listed and every archive of it reads back whole. */
  void expectIntactBackup ()
  {
    g_autoptr (SfBackupInfo) info = backup ();
    ASSERT_NE (info, nullptr);
    EXPECT_EQ (sf_backup_info_get_categories (info), (guint32)backupCategories);
    for (SfCategory category : { SF_CATEGORY_CONTACTS, SF_CATEGORY_SETTINGS })
      {
        g_autoptr (GError) error = NULL;
        EXPECT_TRUE (sf_archiver_zip_check_category (info, category, NULL, NULL, NULL, &error))
            << (error != NULL ? error->message : "");
      }
  }

  /* A round trip to a mock: every answer it sent before has then reached this process. */
  static void syncWith (const char *service, const char *path)
  {
    QDBusConnection::sessionBus ().call (
        QDBusMessage::createMethodCall (service, path, "org.freedesktop.DBus.Mock", "GetCalls"));
    QCoreApplication::processEvents ();
  }

  QString home;
  ApplicationConfigurations configurations;
  SfTarget *target = nullptr;
  std::unique_ptr<TestOwner> owner;
};
} // namespace

TEST_F (BackupEngineTest, WithoutApplicationsTheBackupStartsAtOnceAndKeepsTypedNotes)
{
  configure (QString (), QString ());
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD");
  writeFile (home + "/settings.db", "settings");

  BackupEngine *engine = newEngine ("<a & \"b\">");
  QSignalSpy spy (engine, &BackupEngine::backupEngineFinished);
  engine->startBackup ();
  EXPECT_EQ (sf_backend_get_state (theBackend ()), SF_BACKEND_STATE_BACKUP);
  ASSERT_EQ (finish (engine, spy), 100);

  g_autoptr (SfBackupInfo) info = backup ();
  ASSERT_NE (info, nullptr);
  EXPECT_STREQ (sf_backup_info_get_notes (info), "<a & \"b\">");
  std::string metadata
      = read_file ((home + "/card/.backups/Backup0/backup.metadata").toStdString ());
  EXPECT_NE (metadata.find ("&lt;a &amp; &quot;b&quot;&gt;"), std::string::npos) << metadata;
  EXPECT_FALSE (QFile::exists (home + "/export/card.vcf")) << "the export area was packed";
  EXPECT_FALSE (QFile::exists (home + "/export")) << "the emptied folder is removed";
  EXPECT_EQ (read_file ((home + "/settings.db").toStdString ()), "settings");
  EXPECT_NE (read_file ((home + "/card/.backups/Backup0/permanent_file_list.xml").toStdString ())
                 .find ((home + "/settings.db").toStdString ()),
             std::string::npos);
  EXPECT_FALSE (BackupLastStateInfo ().isAnyOperationInterrupted ());
}

TEST_F (BackupEngineTest, BackupWaitsForBothGroupsAndOnlyPermanentOnesHearItFinished)
{
  DBusMock exporter (G_BUS_TYPE_SESSION, "com.test.exporter", "/exporter", clientInterface);
  DBusMock keeper (G_BUS_TYPE_SESSION, "com.test.keeper", "/keeper", clientInterface);
  exporter.add_method ("backup", "as", "y", "time.sleep(3)\nret = dbus.Byte(0)");
  keeper.add_method ("backupStarts", "", "y", "ret = dbus.Byte(1)");
  keeper.add_method ("backupFinished", "", "y", "ret = dbus.Byte(0)");
  configure ("com.test.exporter", "com.test.keeper");
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD");
  writeFile (home + "/settings.db", "settings");

  BackupEngine *engine = newEngine ();
  QSignalSpy spy (engine, &BackupEngine::backupEngineFinished);
  engine->startBackup ();
  ASSERT_EQ (keeper.wait_for_calls ("backupStarts", 1), 1u);
  QDBusConnection::sessionBus ().call (QDBusMessage::createMethodCall (
      "com.test.keeper", "/keeper", "org.freedesktop.DBus.Mock", "GetCalls"));
  QCoreApplication::processEvents ();
  EXPECT_EQ (sf_backend_get_state (theBackend ()), SF_BACKEND_STATE_IDLE)
      << "the permanent group answered, the other one not yet";
  ASSERT_EQ (finish (engine, spy), 100);

  std::vector<DBusMock::Call> calls = keeper.calls ();
  ASSERT_EQ (calls.size (), 2u);
  EXPECT_EQ (calls[1].method, "backupFinished");
  calls = exporter.calls ();
  ASSERT_EQ (calls.size (), 1u);
  EXPECT_EQ (calls[0].method, "backup");
  EXPECT_EQ (calls[0].args, "([],)");
  EXPECT_EQ (read_file ((home + "/.safehold/backup-restore-script-error-log").toStdString ()),
             ",& keeper")
      << "a permanent application that failed backupStarts";
  EXPECT_FALSE (QFile::exists (home + "/export/card.vcf"));
}

TEST_F (BackupEngineTest, SameNamedBackupNeedsOnlyTheDifferenceAndAMargin)
{
  TmpfsMount tmpfs ("1M");
  SKIP_UNLESS_MOUNTED (tmpfs);
  useTarget (QString::fromStdString (tmpfs.path ()));
  configure (QString (), QString ());
  ASSERT_TRUE (sf_target_prepare_for_backup (target, NULL));

  /* An earlier backup of that name, as large on paper as the data will need beyond free space;
   * zeros pack to almost nothing, so only the check can fail. */
  g_autoptr (GFile) directory = g_file_new_for_uri (
      (QString ("file://") + QString::fromStdString (tmpfs.path ()) + "/.backups/Backup0")
          .toUtf8 ()
          .constData ());
  g_autoptr (SfBackupInfo) earlier = sf_backup_info_new (directory, 1, FALSE, NULL, "1", "",
                                                         SF_BACKUP_INFO_FORMAT, backupCategories);
  ASSERT_EQ (sf_backup_info_create_dir (earlier), nullptr);
  sf_backup_info_set_data_amount (earlier, SF_CATEGORY_CONTACTS, 1, 1);
  ASSERT_EQ (sf_backup_info_write_metadata (earlier), nullptr);
  qint64 freeSpace = (qint64)sf_target_calculate_free_space (target);
  qint64 dataSize = freeSpace + 100 * 1024;
  writeFile (home + "/export/zeros", std::string (dataSize, '\0'));

  qint64 reusable = dataSize + 65536 - freeSpace;
  sf_backup_info_set_data_amount (earlier, SF_CATEGORY_CONTACTS, reusable, 1);
  ASSERT_EQ (sf_backup_info_write_metadata (earlier), nullptr);
  ASSERT_EQ ((qint64)sf_target_calculate_free_space (target), freeSpace);
  BackupEngine *engine = newEngine ();
  QSignalSpy spy (engine, &BackupEngine::backupEngineFinished);
  engine->startBackup ();
  EXPECT_EQ (finish (engine, spy), 102) << "needed space equal to free space";
  EXPECT_TRUE (QFile::exists (home + "/export/zeros"));

  ASSERT_TRUE (sf_target_prepare_for_backup (target, NULL));
  ASSERT_EQ (sf_backup_info_create_dir (earlier), nullptr);
  sf_backup_info_set_data_amount (earlier, SF_CATEGORY_CONTACTS, reusable + 1, 1);
  ASSERT_EQ (sf_backup_info_write_metadata (earlier), nullptr);
  engine = newEngine ();
  QSignalSpy second (engine, &BackupEngine::backupEngineFinished);
  engine->startBackup ();
  EXPECT_EQ (finish (engine, second), 100) << "one byte less is needed than is free";
  EXPECT_FALSE (QFile::exists (home + "/export/zeros"));
}

TEST_F (BackupEngineTest, CancelBeforeTheApplicationsAnsweredLeavesNothing)
{
  DBusMock exporter (G_BUS_TYPE_SESSION, "com.test.exporter", "/exporter", clientInterface);
  exporter.add_method ("backup", "as", "y", "time.sleep(2)\nret = dbus.Byte(0)");
  configure ("com.test.exporter", QString ());
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD");

  BackupEngine *engine = newEngine ();
  QSignalSpy spy (engine, &BackupEngine::backupEngineFinished);
  QSignalSpy cancelling (engine, &BackupEngine::cancellingIsInitiated);
  engine->startBackup ();
  engine->cancelBackup ();
  engine->cancelBackup ();
  EXPECT_EQ (cancelling.size (), 2);
  EXPECT_EQ (sf_backend_get_state (theBackend ()), SF_BACKEND_STATE_IDLE);
  EXPECT_EQ (finish (engine, spy), 101);
  EXPECT_TRUE (owner->removed.isEmpty ()) << "nothing was written, so nothing is removed";
  EXPECT_TRUE (QDir (home + "/card/.backups").isEmpty ());
  EXPECT_EQ (read_file ((home + "/export/card.vcf").toStdString ()), "BEGIN:VCARD");
  EXPECT_FALSE (BackupLastStateInfo ().isAnyOperationInterrupted ());
}

TEST_F (BackupEngineTest, CancelDuringPackingKeepsEverySourceFile)
{
  configure (QString (), QString ());
  const int count = 64;
  for (int index = 0; index < count; index++)
    writeFile (home + "/export/file" + QString::number (index), random_bytes (256 * 1024, index));

  BackupEngine *engine = newEngine ();
  QSignalSpy spy (engine, &BackupEngine::backupEngineFinished);
  gulong handler
      = g_signal_connect (theBackend (), "progress",
                          G_CALLBACK (+[] (SfBackend *, gint, gint, gint, gint, gpointer engine) {
                            static_cast<BackupEngine *> (engine)->cancelBackup ();
                          }),
                          engine);
  engine->startBackup ();
  int status = finish (engine, spy);
  g_signal_handler_disconnect (theBackend (), handler);
  EXPECT_EQ (status, 101);
  for (int index = 0; index < count; index++)
    EXPECT_EQ (read_file ((home + "/export/file" + QString::number (index)).toStdString ()),
               random_bytes (256 * 1024, index))
        << index;
  g_autoptr (SfBackupInfo) info = backup ();
  EXPECT_EQ (info, nullptr);
}

TEST_F (BackupEngineTest, CancelAfterTheBackendFinishedKeepsTheBackupAndFinishesOnce)
{
  configure (QString (), QString ());
  writeFile (home + "/settings.db", "settings");

  /* The worker has removed the packed files, so its "finished" is on its way: the cancel reaches
   * the backend before the main loop delivered it. */
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD");
  BackupEngine *engine = newEngine ();
  QSignalSpy spy (engine, &BackupEngine::backupEngineFinished);
  engine->startBackup ();
  ASSERT_EQ (sf_backend_get_state (theBackend ()), SF_BACKEND_STATE_BACKUP);
  for (int round = 0; round < 6000 && QFile::exists (home + "/export/card.vcf"); round++)
    QThread::msleep (10);
  ASSERT_FALSE (QFile::exists (home + "/export/card.vcf"));
  engine->cancelBackup ();
  EXPECT_FALSE (engine->isCancellable ());
  EXPECT_EQ (finish (engine, spy), 100);
  EXPECT_EQ (spy.size (), 1);
  EXPECT_TRUE (owner->removed.isEmpty ());
  expectIntactBackup ();

  /* During the delay before the end is reported, from the window and from the suite. */
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD");
  engine = newEngine ();
  QSignalSpy second (engine, &BackupEngine::backupEngineFinished);
  QSignalSpy closed (engine, &BackupEngine::cancelNoLongerPossible);
  QSignalSpy cancelling (engine, &BackupEngine::cancellingIsInitiated);
  engine->startBackup ();
  ASSERT_TRUE (QTest::qWaitFor (
      [] { return sf_backend_get_state (theBackend ()) == SF_BACKEND_STATE_IDLE; }, 60000));
  EXPECT_EQ (closed.size (), 1);
  engine->cancelBackup ();
  bool cancelable = true;
  engine->slotCancelLumoSuiteBackup (cancelable);
  EXPECT_FALSE (cancelable);
  EXPECT_TRUE (cancelling.isEmpty ()) << "the window is not told a cancel began";
  EXPECT_EQ (finish (engine, second), 100);
  EXPECT_EQ (second.size (), 1);
  EXPECT_TRUE (owner->removed.isEmpty ());
  expectIntactBackup ();
}

TEST_F (BackupEngineTest, SuiteCancelWhileApplicationsAreSlowEndsOnceAndRemovesNothing)
{
  DBusMock exporter (G_BUS_TYPE_SESSION, "com.test.exporter", "/exporter", clientInterface);
  DBusMock keeper (G_BUS_TYPE_SESSION, "com.test.keeper", "/keeper", clientInterface);
  exporter.add_method ("backup", "as", "y", "time.sleep(2)\nret = dbus.Byte(0)");
  keeper.add_method ("backupStarts", "", "y", "time.sleep(2)\nret = dbus.Byte(0)");
  keeper.add_method ("backupFinished", "", "y", "ret = dbus.Byte(0)");
  configure ("com.test.exporter", "com.test.keeper");
  writeFile (home + "/export/card.vcf", "BEGIN:VCARD");
  writeFile (home + "/settings.db", "settings");

  BackupEngine *engine = newEngine ();
  QSignalSpy spy (engine, &BackupEngine::backupEngineFinished);
  engine->startBackup ();
  ASSERT_EQ (keeper.wait_for_calls ("backupStarts", 1), 1u);
  bool cancelable = true;
  engine->slotCancelLumoSuiteBackup (cancelable);
  EXPECT_FALSE (cancelable) << "nothing ran in the backend yet";
  ASSERT_TRUE (spy.wait (60000));
  EXPECT_EQ (spy[0][0].toInt (), 101);

  /* The late answers of both applications arrive now. */
  syncWith ("com.test.exporter", "/exporter");
  syncWith ("com.test.keeper", "/keeper");
  QCoreApplication::processEvents ();
  EXPECT_EQ (sf_backend_get_state (theBackend ()), SF_BACKEND_STATE_IDLE);
  EXPECT_LE (owner->removed.size (), 1);
  delete engine;
  EXPECT_EQ (spy.size (), 1);
  EXPECT_EQ (read_file ((home + "/export/card.vcf").toStdString ()), "BEGIN:VCARD");
}

TEST_F (BackupEngineTest, FailedBackupIsRemovedOnlyOnItsOwnTargetAndOnlyWhenItMadeTheFolder)
{
  configure (QString (), QString ());
  QString card = home + "/other-card";
  QDir ().mkpath (card);
  g_autoptr (SfTarget) other
      = sf_target_fake_new (("file://" + card).toUtf8 ().constData (), "other");
  ASSERT_TRUE (sf_target_prepare_for_backup (other, NULL));
  writeFile (card + "/.backups/Backup0/backup.metadata", "the other card's backup");

  /* Cancelled while packing: this target's folder goes, the other card's stays. */
  for (int index = 0; index < 32; index++)
    writeFile (home + "/export/file" + QString::number (index), random_bytes (256 * 1024, index));
  BackupEngine *engine = newEngine ();
  QSignalSpy spy (engine, &BackupEngine::backupEngineFinished);
  gulong handler
      = g_signal_connect (theBackend (), "progress",
                          G_CALLBACK (+[] (SfBackend *, gint, gint, gint, gint, gpointer engine) {
                            static_cast<BackupEngine *> (engine)->cancelBackup ();
                          }),
                          engine);
  engine->startBackup ();
  int status = finish (engine, spy);
  g_signal_handler_disconnect (theBackend (), handler);
  EXPECT_EQ (status, 101);
  EXPECT_EQ (owner->removedFrom, QList<SfTarget *> ({ target }));
  EXPECT_FALSE (QFileInfo::exists (home + "/card/.backups/Backup0"));
  EXPECT_EQ (read_file ((card + "/.backups/Backup0/backup.metadata").toStdString ()),
             "the other card's backup");

  /* A folder of that name was there before: it is not this backup's to remove. */
  writeFile (home + "/card/.backups/Backup0/notes", "kept");
  owner->removed.clear ();
  owner->removedFrom.clear ();
  engine = newEngine ();
  QSignalSpy second (engine, &BackupEngine::backupEngineFinished);
  handler
      = g_signal_connect (theBackend (), "progress",
                          G_CALLBACK (+[] (SfBackend *, gint, gint, gint, gint, gpointer engine) {
                            static_cast<BackupEngine *> (engine)->cancelBackup ();
                          }),
                          engine);
  engine->startBackup ();
  status = finish (engine, second);
  g_signal_handler_disconnect (theBackend (), handler);
  EXPECT_EQ (status, 101);
  EXPECT_TRUE (owner->removed.isEmpty ());
}

/* Only the engine's code says the memory is full: an archive that could not be closed may as
 * well be on a card that was pulled out. */
TEST_F (BackupEngineTest, OnlyANoSpaceErrorReportsAFullMemory)
{
  configure (QString (), QString ());
  const std::pair<int, int> cases[]
      = { { SF_ERROR_BACKUP_FAILED, 103 }, { SF_ERROR_BACKUP_NO_SPACE, 102 } };
  for (const auto &[code, status] : cases)
    {
      BackupEngine *engine = newEngine ();
      QSignalSpy spy (engine, &BackupEngine::backupEngineFinished);
      g_autoptr (GError) error
          = g_error_new_literal (SF_ERROR, code, "couldn't close root category output");
      engine->slotBackendError (theBackend (), error);
      EXPECT_EQ (engine->failureCode (), code);
      EXPECT_EQ (finish (engine, spy), status) << code;
    }
}
