#include "BackupLastStateInfo.h"

#include "test-data.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <glib.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
/* Whether another process could take the lock on path right now. */
bool
otherProcessCanLock (const QString &path)
{
  gchar *argv[]
      = { (gchar *)"flock", (gchar *)"-n", (gchar *)qPrintable (path), (gchar *)"true", NULL };
  gint status = -1;
  g_autoptr (GError) error = NULL;
  EXPECT_TRUE (g_spawn_sync (NULL, argv, NULL, G_SPAWN_SEARCH_PATH, NULL, NULL, NULL, NULL, &status,
                             &error));
  return g_spawn_check_wait_status (status, NULL);
}

void
writeFile (const QString &path, const QByteArray &content)
{
  QDir ().mkpath (path.left (path.lastIndexOf ('/')));
  QFile file (path);
  ASSERT_TRUE (file.open (QIODevice::WriteOnly | QIODevice::Truncate));
  file.write (content);
}

/* A child process, forked before this process takes any lock, that tries the application lock
 * once for every byte it reads and answers 1 (taken, and released again) or 0. */
class LockingChild
{
public:
  LockingChild ()
  {
    int toChild[2], fromChild[2];
    EXPECT_EQ (pipe (toChild), 0);
    EXPECT_EQ (pipe (fromChild), 0);
    pid = fork ();
    if (pid == 0)
      {
        close (toChild[1]);
        close (fromChild[0]);
        char request;
        while (read (toChild[0], &request, 1) == 1)
          {
            BackupLastStateInfo info;
            char taken = info.getApplicationLock () ? '1' : '0';
            if (taken == '1')
              info.releaseApplicationLock ();
            if (write (fromChild[1], &taken, 1) != 1)
              break;
          }
        _exit (0);
      }
    close (toChild[0]);
    close (fromChild[1]);
    requests = toChild[1];
    answers = fromChild[0];
  }
  ~LockingChild ()
  {
    close (requests);
    close (answers);
    waitpid (pid, NULL, 0);
  }

  bool tryLock ()
  {
    char answer = 0;
    EXPECT_EQ (write (requests, "?", 1), 1);
    EXPECT_EQ (read (answers, &answer, 1), 1);
    return answer == '1';
  }

private:
  pid_t pid;
  int requests;
  int answers;
};
} // namespace

TEST (BackupLastStateInfo, ApplicationLockKeepsASecondProcessOut)
{
  LockingChild child;
  BackupLastStateInfo info;
  ASSERT_TRUE (info.getApplicationLock ());
  EXPECT_TRUE (BackupLastStateInfo ().getApplicationLock ()) << "held already in this process";
  EXPECT_FALSE (child.tryLock ());

  info.releaseApplicationLock ();
  EXPECT_FALSE (QFile::exists (info.getAppLockFileName ()));
  EXPECT_TRUE (child.tryLock ());
  EXPECT_TRUE (info.getApplicationLock ()) << "the child released it again";
  info.releaseApplicationLock ();
}

TEST (BackupLastStateInfo, MassStorageLockIsHeldOnceAndReleasedOnce)
{
  BackupLastStateInfo info;
  QString path = info.getMSMLockFileName ();
  EXPECT_EQ (path, QDir::homePath () + "/MyDocs/.tmp/backupmsmlockfile");

  writeFile (path, "someone else's");
  info.unlockMSM ();
  EXPECT_TRUE (QFile::exists (path)) << "nothing held, nothing deleted";
  QFile::remove (path);

  ASSERT_TRUE (info.lockMSM ());
  EXPECT_TRUE (BackupLastStateInfo ().lockMSM ());
  EXPECT_FALSE (otherProcessCanLock (path));
  info.unlockMSM ();
  EXPECT_FALSE (QFile::exists (path));
  EXPECT_TRUE (otherProcessCanLock (path));
  QFile::remove (path);

  QString outside = QDir::homePath () + "/precious";
  writeFile (outside, "keep");
  ASSERT_EQ (symlink (qPrintable (outside), qPrintable (path)), 0);
  EXPECT_TRUE (info.lockMSM ()) << "a link in the mass-storage folder is replaced";
  EXPECT_EQ (read_file (outside.toStdString ()), "keep") << "and never followed";
  EXPECT_FALSE (QFileInfo (path).isSymLink ());
  info.unlockMSM ();
}

TEST (BackupLastStateInfo, PipesAtLockAndMarkerPathsAreReplacedWithoutWaiting)
{
  BackupLastStateInfo info;
  const QString paths[]
      = { info.getAppLockFileName (), info.getMSMLockFileName (), info.getBackupLockFileName () };
  for (const QString &path : paths)
    {
      QDir ().mkpath (QFileInfo (path).path ());
      ASSERT_EQ (mkfifo (qPrintable (path), 0644), 0) << qPrintable (path);
    }
  QString name = "untouched";
  EXPECT_TRUE (info.isBackupOpInterrupted (name)) << "a pipe is read without waiting";
  EXPECT_EQ (name, "untouched");

  ASSERT_TRUE (info.getApplicationLock ());
  EXPECT_TRUE (QFileInfo (paths[0]).isFile ());
  EXPECT_FALSE (otherProcessCanLock (paths[0]));
  ASSERT_TRUE (info.lockMSM ());
  EXPECT_TRUE (QFileInfo (paths[1]).isFile ());
  EXPECT_FALSE (otherProcessCanLock (paths[1]));
  info.lockBackupInfo ("Backup5", "/card/.backups");
  EXPECT_TRUE (QFileInfo (paths[2]).isFile ());
  QString folder;
  ASSERT_TRUE (info.isBackupOpInterrupted (name, folder));
  EXPECT_EQ (name, "Backup5");
  EXPECT_EQ (folder, "/card/.backups");

  info.unlockMSM ();
  info.releaseApplicationLock ();
  info.unlockBackupInfo ();
}

TEST (BackupLastStateInfo, MarkersRecordTheInterruptedOperation)
{
  BackupLastStateInfo info;
  QString name = "untouched";
  EXPECT_FALSE (info.isBackupOpInterrupted (name));
  EXPECT_EQ (name, "untouched");
  EXPECT_FALSE (info.isAnyOperationInterrupted ());

  info.lockBackupInfo ("Backup12");
  EXPECT_EQ (read_file (info.getBackupLockFileName ().toStdString ()), "Backup12");
  writeFile (info.getBackupLockFileName (), "  Backup3\n");
  ASSERT_TRUE (info.isBackupOpInterrupted (name));
  EXPECT_EQ (name, "Backup3");
  writeFile (info.getBackupLockFileName (), QByteArray ("Backup4\0garbage", 15));
  ASSERT_TRUE (info.isBackupOpInterrupted (name));
  EXPECT_EQ (name, "Backup4");

  info.lockRestoreInfo ();
  EXPECT_EQ (read_file (info.getRestoreLockFileName ().toStdString ()), "Restore In Progress");
  EXPECT_TRUE (info.isRestoreOpInterrupted ());
  EXPECT_TRUE (info.isAnyOperationInterrupted ());
  info.unlockBackupInfo ();
  EXPECT_TRUE (info.isAnyOperationInterrupted ()) << "the restore marker alone";
  info.unlockRestoreInfo ();
  EXPECT_FALSE (info.isRestoreOpInterrupted ());
  EXPECT_FALSE (info.isAnyOperationInterrupted ());
}
