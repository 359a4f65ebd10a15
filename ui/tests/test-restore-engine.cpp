#include "dbus-mock.h"
#include "test-data.h"
#include "tmpfs-mount.h"
#include "ui-test-owner.h"
#include "ui-test-support.h"

#include "sf-backup-info.h"
#include "sf-restore-failure.h"
#include "sf-utils.h"

#include "BackupEngine.h"
#include "RestoreEngine.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace
{
testing::Environment *const qtEnvironment = testing::AddGlobalTestEnvironment (new QtEnvironment);

const char *const clientInterface = "com.korvel.backupclient";
const int everything
    = SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS | SF_CATEGORY_SETTINGS | SF_CATEGORY_APPLICATIONS;

/* Four applications, one per category: an export area told over D-Bus (contacts), a silent
 * export area (emails), a settings database whose owner hears when a restore starts and ends, and
 * the list of installed applications. Backups go to a fake card. */
class RestoreEngineTest : public testing::Test
{
protected:
  void SetUp () override
  {
    sf_log_start (2);
    home = QDir::homePath ();
    target = SF_TARGET (g_object_ref (fakeCard ()));
    owner = std::make_unique<TestOwner> (theBackend ());
    configurations.add ("exporter", "backup-dbus", "com.test.exporter",
                        "<location type=\"dir\" category=\"contacts\">$HOME/export</location>");
    configurations.add ("mailer", "permanent-backup-files", QString (),
                        "<location type=\"dir\" category=\"emails\">$HOME/mail</location>");
    configurations.add ("keeper", "permanent-backup-files", "com.test.keeper",
                        "<location type=\"permanent-backup-file\" category=\"settings\">"
                        "$HOME/settings.db</location>");
    configurations.add ("installer", "permanent-backup-files", QString (),
                        "<location type=\"dir\" category=\"applications\">$HOME/apps</location>");
    configurations.load ();
  }

  void TearDown () override
  {
    owner.reset ();
    g_clear_object (&target);
    for (const char *name :
         { "fake-cards/card/.backups", "export", "mail", "apps", ".safehold", "imported" })
      QDir (home + "/" + name).removeRecursively ();
    QFile::remove (home + "/imported");
    QFile::remove (home + "/settings.db");
  }

  /* The backed-up state: written, backed up (which empties the export areas) and written again
   * as the current state that a restore replaces. */
  void makeBackup (int categories, const QString &password = QString ())
  {
    writeFile (home + "/export/card.vcf", "backed-up card " + random_bytes (64 * 1024, 1));
    writeFile (home + "/mail/inbox", "backed-up mail");
    writeFile (home + "/settings.db", "backed-up settings");
    writeFile (home + "/apps/list", "backed-up list");
    QVariantMap parameters{ { "name", "Backup0" }, { "notes", "" }, { "password", password } };
    BackupEngine *engine
        = new BackupEngine (theBackend (), target, categories, owner.get (), parameters);
    QSignalSpy spy (engine, &BackupEngine::backupEngineFinished);
    engine->startBackup ();
    ASSERT_TRUE (spy.wait (60000));
    ASSERT_EQ (spy[0][0].toInt (), 100);
    delete engine;

    writeFile (home + "/export/card.vcf", "current card");
    writeFile (home + "/export/stray", "current stray");
    writeFile (home + "/mail/inbox", "current mail");
    writeFile (home + "/settings.db", "current settings");
    writeFile (home + "/apps/list", "current list");
  }

  /* Restores Backup0 and returns the status; failure receives the engine's failure record. */
  int restore (const QString &password = QString (), SfRestoreFailure **failure = nullptr)
  {
    g_autoptr (SfBackupInfo) info = sf_target_get_backup_by_name (target, "Backup0");
    EXPECT_NE (info, nullptr);
    if (info == nullptr)
      return -1;
    auto *engine = new RestoreEngine (owner.get (), info, 0, password);
    QSignalSpy spy (engine, &RestoreEngine::restoreEngineFinished);
    engine->startRestore ();
    EXPECT_TRUE (spy.wait (60000));
    if (failure != nullptr)
      *failure = sf_restore_failure_ref (engine->getRestoreFailure ());
    delete engine;
    EXPECT_FALSE (BackupLastStateInfo ().isAnyOperationInterrupted ());
    return spy.isEmpty () ? -1 : spy[0][0].toInt ();
  }

  std::string current (const QString &name)
  {
    return read_file ((home + "/" + name).toStdString ());
  }

  /* The contacts application: on "restore" it imports its export area into ~/imported. */
  static DBusMock *exporterClient ()
  {
    auto *exporter
        = new DBusMock (G_BUS_TYPE_SESSION, "com.test.exporter", "/exporter", clientInterface);
    exporter->add_method ("backup", "as", "y", "ret = dbus.Byte(0)");
    exporter->add_method ("restore", "assas", "y",
                          "home = os.environ['HOME']\n"
                          "data = open(home + '/export/card.vcf', 'rb').read()\n"
                          "open(home + '/imported', 'wb').write(data)\n"
                          "ret = dbus.Byte(0)");
    return exporter;
  }

  /* The mock answers in order: once this returns, its late answer has been sent. */
  static void syncWithExporter ()
  {
    QDBusConnection::sessionBus ().call (QDBusMessage::createMethodCall (
        "com.test.exporter", "/exporter", "org.freedesktop.DBus.Mock", "GetCalls"));
    QCoreApplication::processEvents ();
  }

  static DBusMock *modeControl ()
  {
    return new DBusMock (G_BUS_TYPE_SYSTEM, "com.korvel.modus", "/com/korvel/modus/request",
                         "com.korvel.modus.request");
  }

  QString home;
  ApplicationConfigurations configurations;
  SfTarget *target = nullptr;
  std::unique_ptr<TestOwner> owner;
};
} // namespace

TEST_F (RestoreEngineTest, SettingsAndApplicationsEndWith204AndTheLastRestoreRecord)
{
  std::unique_ptr<DBusMock> modes (modeControl ());
  modes->add_method ("get_radio_states", "", "u", "ret = dbus.UInt32(0x17)");
  modes->add_method ("req_radio_states_change", "uu", "", "");
  std::unique_ptr<DBusMock> exporter (exporterClient ());
  DBusMock keeper (G_BUS_TYPE_SESSION, "com.test.keeper", "/keeper", clientInterface);
  for (const char *method :
       { "backupStarts", "backupFinished", "restoreStarts", "restoreFinished" })
    keeper.add_method (method, "", "y", "ret = dbus.Byte(0)");
  makeBackup (everything);
  const std::string card = "backed-up card " + random_bytes (64 * 1024, 1);
  exporter->clear_calls ();
  keeper.clear_calls ();

  EXPECT_EQ (restore (), 204);
  EXPECT_TRUE (current ("imported") == card) << "the application imported the restored file";
  EXPECT_FALSE (QFile::exists (home + "/export")) << "export areas are emptied after the import";
  EXPECT_EQ (current ("settings.db"), "backed-up settings");

  SfRestoreFailure *failure = NULL;
  SfCategory written = SF_CATEGORY_NONE;
  gint64 size = 0;
  ASSERT_TRUE (sf_utils_read_last_restore (&failure, &written, &size));
  EXPECT_EQ (written & everything, everything);
  if (failure != NULL)
    sf_restore_failure_unref (failure);

  std::vector<DBusMock::Call> calls = modes->calls ();
  ASSERT_EQ (calls.size (), 2u);
  EXPECT_EQ (calls[0].method, "get_radio_states");
  EXPECT_EQ (calls[1].method, "req_radio_states_change");
  EXPECT_EQ (calls[1].args, "(22, 4294967289)");

  calls = keeper.calls ();
  ASSERT_EQ (calls.size (), 2u);
  EXPECT_EQ (calls[0].method, "restoreStarts");
  EXPECT_EQ (calls[1].method, "restoreFinished");
  calls = exporter->calls ();
  ASSERT_EQ (calls.size (), 1u);
  EXPECT_EQ (calls[0].args, "(['contacts', 'emails', 'messaging', 'organizer', 'bookmarks', "
                            "'settings', 'applications'], 'solano', [])");

  g_autoptr (SfBackupInfo) info = sf_target_get_backup_by_name (target, "Backup0");
  ASSERT_NE (info, nullptr);
  EXPECT_GT (sf_backup_info_get_time_for_restoration (info), 0);
}

TEST_F (RestoreEngineTest, ContactsOnlyEndsWith200WithoutRecordAndAFailedRadioQueryChangesNothing)
{
  std::unique_ptr<DBusMock> modes (modeControl ());
  modes->add_method ("get_radio_states", "", "u",
                     "raise dbus.exceptions.DBusException('no modem', name='com.test.Error')");
  modes->add_method ("req_radio_states_change", "uu", "", "");
  std::unique_ptr<DBusMock> exporter (exporterClient ());
  makeBackup (SF_CATEGORY_CONTACTS);

  EXPECT_EQ (restore (), 200);
  EXPECT_TRUE (current ("imported") == "backed-up card " + random_bytes (64 * 1024, 1));
  EXPECT_EQ (current ("mail/inbox"), "current mail");
  EXPECT_EQ (current ("settings.db"), "current settings");
  EXPECT_FALSE (QFile::exists (home + "/.safehold/last-restore.xml"));
  std::vector<DBusMock::Call> calls = modes->calls ();
  ASSERT_EQ (calls.size (), 1u);
  EXPECT_EQ (calls[0].method, "get_radio_states");
}

TEST_F (RestoreEngineTest, CorruptArchiveLeavesItsCategoryAloneAndTheOthersAreRestored)
{
  makeBackup (SF_CATEGORY_CONTACTS | SF_CATEGORY_SETTINGS);
  g_autoptr (SfBackupInfo) info = sf_target_get_backup_by_name (target, "Backup0");
  ASSERT_NE (info, nullptr);
  g_autofree gchar *archive = sf_backup_info_get_category_archive_path (info, SF_CATEGORY_CONTACTS);
  QFile file (archive);
  ASSERT_TRUE (file.open (QIODevice::ReadWrite));
  ASSERT_TRUE (file.seek (file.size () / 3));
  file.write (QByteArray::fromStdString (random_bytes (4096, 7)));
  file.close ();

  SfRestoreFailure *failure = nullptr;
  EXPECT_EQ (restore (QString (), &failure), 204);
  EXPECT_EQ (current ("export/card.vcf"), "current card");
  EXPECT_EQ (current ("export/stray"), "current stray");
  EXPECT_EQ (current ("settings.db"), "backed-up settings");
  ASSERT_NE (failure, nullptr);
  EXPECT_EQ (sf_restore_failure_get_category_reason (failure, SF_CATEGORY_CONTACTS),
             SF_RESTORE_FAILURE_CORRUPT_BACKUP);
  EXPECT_FALSE (sf_restore_failure_has_category (failure, SF_CATEGORY_SETTINGS));
  sf_restore_failure_unref (failure);
}

TEST_F (RestoreEngineTest, WrongPasswordRemovesNothingAtAll)
{
  makeBackup (everything, "secret");

  SfRestoreFailure *failure = nullptr;
  EXPECT_EQ (restore ("guess", &failure), 200);
  EXPECT_EQ (current ("export/card.vcf"), "current card");
  EXPECT_EQ (current ("export/stray"), "current stray");
  EXPECT_EQ (current ("mail/inbox"), "current mail");
  EXPECT_EQ (current ("settings.db"), "current settings");
  EXPECT_EQ (current ("apps/list"), "current list");
  ASSERT_NE (failure, nullptr);
  EXPECT_EQ (sf_restore_failure_get_category_reason (failure, SF_CATEGORY_SETTINGS),
             SF_RESTORE_FAILURE_UNKNOWN_ERROR);
  sf_restore_failure_unref (failure);
  EXPECT_FALSE (QFile::exists (home + "/.safehold/last-restore.xml"));

  EXPECT_EQ (restore ("secret"), 204) << "the right password restores";
  EXPECT_EQ (current ("settings.db"), "backed-up settings");
}

TEST_F (RestoreEngineTest, WhatTheCategoryExcludesOutlivesTheRestoreByteForByte)
{
  sf_backup_configurations_free ();
  configurations.add ("exporter", "backup-dbus", "com.test.exporter",
                      "<location type=\"dir\" category=\"contacts\">$HOME/export</location>"
                      "<exclusion type=\"dir\" category=\"contacts\">$HOME/export/thumbnails"
                      "</exclusion>");
  configurations.load ();
  std::unique_ptr<DBusMock> exporter (exporterClient ());
  const std::string thumbnail = random_bytes (16 * 1024, 3);
  writeFile (home + "/export/thumbnails/card.png", thumbnail);
  writeFile (home + "/export/thumbnails/small/card.png", "small");
  makeBackup (SF_CATEGORY_CONTACTS);

  EXPECT_EQ (restore (), 200);
  EXPECT_TRUE (current ("imported") == "backed-up card " + random_bytes (64 * 1024, 1));
  EXPECT_TRUE (current ("export/thumbnails/card.png") == thumbnail)
      << "no backup holds it, so no restore may remove it";
  EXPECT_EQ (current ("export/thumbnails/small/card.png"), "small");
  EXPECT_FALSE (QFile::exists (home + "/export/stray"));
}

TEST_F (RestoreEngineTest, RestoreThatCannotRunRemovesNothingAndRecordsEveryCategory)
{
  /* Every archive damaged. */
  makeBackup (SF_CATEGORY_CONTACTS | SF_CATEGORY_SETTINGS);
  g_autoptr (SfBackupInfo) info = sf_target_get_backup_by_name (target, "Backup0");
  ASSERT_NE (info, nullptr);
  for (SfCategory category : { SF_CATEGORY_CONTACTS, SF_CATEGORY_SETTINGS })
    {
      g_autofree gchar *archive = sf_backup_info_get_category_archive_path (info, category);
      QFile file (archive);
      ASSERT_TRUE (file.open (QIODevice::ReadWrite | QIODevice::Truncate));
      file.write (QByteArray::fromStdString (random_bytes (4096, 9)));
    }
  SfRestoreFailure *failure = nullptr;
  EXPECT_EQ (restore (QString (), &failure), 200);
  EXPECT_EQ (current ("export/card.vcf"), "current card");
  EXPECT_EQ (current ("settings.db"), "current settings");
  ASSERT_NE (failure, nullptr);
  for (SfCategory category : { SF_CATEGORY_CONTACTS, SF_CATEGORY_SETTINGS })
    EXPECT_EQ (sf_restore_failure_get_category_reason (failure, category),
               SF_RESTORE_FAILURE_CORRUPT_BACKUP);
  sf_restore_failure_unref (failure);

  /* A backup on a memory the backend does not know: it would refuse to start. */
  QString elsewhere = home + "/elsewhere";
  QDir ().mkpath (elsewhere);
  g_autoptr (SfTarget) unknown
      = sf_target_fake_new (("file://" + elsewhere).toUtf8 ().constData (), "elsewhere");
  std::swap (target, unknown);
  makeBackup (SF_CATEGORY_CONTACTS | SF_CATEGORY_SETTINGS);
  failure = nullptr;
  EXPECT_EQ (restore (QString (), &failure), 200);
  std::swap (target, unknown);
  EXPECT_EQ (current ("export/card.vcf"), "current card");
  EXPECT_EQ (current ("export/stray"), "current stray");
  EXPECT_EQ (current ("settings.db"), "current settings");
  ASSERT_NE (failure, nullptr);
  for (SfCategory category : { SF_CATEGORY_CONTACTS, SF_CATEGORY_SETTINGS })
    EXPECT_TRUE (sf_restore_failure_has_category (failure, category)) << category;
  sf_restore_failure_unref (failure);
  QDir (elsewhere).removeRecursively ();
}

TEST_F (RestoreEngineTest, CategoryThatDoesNotFitItsFileSystemIsLeftAsItIs)
{
  TmpfsMount tmpfs ("8M");
  SKIP_UNLESS_MOUNTED (tmpfs);
  QString settings = QString::fromStdString (tmpfs.path ()) + "/settings.db";
  sf_backup_configurations_free ();
  configurations.add ("keeper", "permanent-backup-files", QString (),
                      "<location type=\"permanent-backup-file\" category=\"settings\">" + settings
                          + "</location>");
  configurations.load ();

  writeFile (settings, random_bytes (4 * 1000 * 1000, 3));
  writeFile (home + "/export/card.vcf", "backed-up card");
  QVariantMap parameters{ { "name", "Backup0" }, { "notes", "" }, { "password", "" } };
  BackupEngine *engine = new BackupEngine (
      theBackend (), target, SF_CATEGORY_CONTACTS | SF_CATEGORY_SETTINGS, owner.get (), parameters);
  QSignalSpy spy (engine, &BackupEngine::backupEngineFinished);
  engine->startBackup ();
  ASSERT_TRUE (spy.wait (60000));
  ASSERT_EQ (spy[0][0].toInt (), 100);
  delete engine;

  const std::string currentSettings = random_bytes (1000 * 1000, 4);
  writeFile (settings, currentSettings);
  writeFile (home + "/export/card.vcf", "current card");
  ASSERT_EQ (mount ("tmpfs", tmpfs.path ().c_str (), "tmpfs", MS_REMOUNT, "size=3M,mode=0755"), 0)
      << strerror (errno);

  SfRestoreFailure *failure = nullptr;
  EXPECT_EQ (restore (QString (), &failure), 200);
  EXPECT_TRUE (read_file (settings.toStdString ()) == currentSettings)
      << "the current settings stay";
  ASSERT_NE (failure, nullptr);
  EXPECT_EQ (sf_restore_failure_get_category_reason (failure, SF_CATEGORY_SETTINGS),
             SF_RESTORE_FAILURE_INSUFFICIENT_SPACE);
  EXPECT_FALSE (sf_restore_failure_has_category (failure, SF_CATEGORY_CONTACTS));
  sf_restore_failure_unref (failure);
}

/* The current files the category's exclusions match stay through a restore: they free no room
 * for it, and a restore that fits only when they are counted removes nothing. */
TEST_F (RestoreEngineTest, WhatTheExclusionsSpareIsNoRoomForTheRestore)
{
  TmpfsMount tmpfs ("8M");
  SKIP_UNLESS_MOUNTED (tmpfs);
  QString area = QString::fromStdString (tmpfs.path ()) + "/settings";
  sf_backup_configurations_free ();
  configurations.add ("keeper", "permanent-backup-files", QString (),
                      "<location type=\"dir\" category=\"settings\">" + area
                          + "</location><exclusion type=\"dir\" category=\"settings\">" + area
                          + "/cache</exclusion>");
  configurations.load ();
  writeFile (area + "/settings.db", random_bytes (3 * 1000 * 1000, 3));
  QVariantMap parameters{ { "name", "Backup0" }, { "notes", "" }, { "password", "" } };
  BackupEngine *engine
      = new BackupEngine (theBackend (), target, SF_CATEGORY_SETTINGS, owner.get (), parameters);
  QSignalSpy spy (engine, &BackupEngine::backupEngineFinished);
  engine->startBackup ();
  ASSERT_TRUE (spy.wait (60000));
  ASSERT_EQ (spy[0][0].toInt (), 100);
  delete engine;

  /* 4 MB in all, 2 MB of them excluded: 2 MB is all the restore can have for its 3 MB. */
  const std::string currentSettings = random_bytes (100 * 1000, 4);
  const std::string cache = random_bytes (2 * 1000 * 1000, 5);
  writeFile (area + "/settings.db", currentSettings);
  writeFile (area + "/cache/thumbnails", cache);
  ASSERT_EQ (mount ("tmpfs", tmpfs.path ().c_str (), "tmpfs", MS_REMOUNT, "size=4M,mode=0755"), 0)
      << strerror (errno);

  SfRestoreFailure *failure = nullptr;
  EXPECT_EQ (restore (QString (), &failure), 200);
  EXPECT_TRUE (read_file ((area + "/settings.db").toStdString ()) == currentSettings)
      << "nothing is removed for a restore that cannot fit";
  EXPECT_TRUE (read_file ((area + "/cache/thumbnails").toStdString ()) == cache);
  ASSERT_NE (failure, nullptr);
  EXPECT_EQ (sf_restore_failure_get_category_reason (failure, SF_CATEGORY_SETTINGS),
             SF_RESTORE_FAILURE_INSUFFICIENT_SPACE);
  sf_restore_failure_unref (failure);
}

TEST_F (RestoreEngineTest, ApplicationAnsweringLateKeepsItsExportAreaUntilTheNextOperation)
{
  RestoreEngine::setRestoreAnswerTimeout (500);
  DBusMock exporter (G_BUS_TYPE_SESSION, "com.test.exporter", "/exporter", clientInterface);
  exporter.add_method ("backup", "as", "y", "ret = dbus.Byte(0)");
  exporter.add_method ("restore", "assas", "y",
                       "time.sleep(2)\n"
                       "home = os.environ['HOME']\n"
                       "data = open(home + '/export/card.vcf', 'rb').read()\n"
                       "open(home + '/imported', 'wb').write(data)\n"
                       "ret = dbus.Byte(0)");
  makeBackup (SF_CATEGORY_CONTACTS | SF_CATEGORY_EMAILS);
  const std::string card = "backed-up card " + random_bytes (64 * 1024, 1);

  EXPECT_EQ (restore (), 200);
  RestoreEngine::setRestoreAnswerTimeout (30000);
  syncWithExporter ();
  EXPECT_TRUE (current ("imported") == card) << "the late application still read its data";
  EXPECT_FALSE (QFile::exists (home + "/mail")) << "an area of an application that answered goes";

  /* The next backup starts without it. */
  QVariantMap parameters{ { "name", "Backup1" }, { "notes", "" }, { "password", "" } };
  BackupEngine *engine
      = new BackupEngine (theBackend (), target, SF_CATEGORY_CONTACTS, owner.get (), parameters);
  QSignalSpy spy (engine, &BackupEngine::backupEngineFinished);
  engine->startBackup ();
  EXPECT_FALSE (QFile::exists (home + "/export/card.vcf"));
  ASSERT_TRUE (spy.wait (60000));
  delete engine;
  EXPECT_FALSE (QFile::exists (home + "/.safehold/kept-export-areas"));
}
