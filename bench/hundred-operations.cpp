/* A hundred operations in a row in one running program: 50 backups and 50 restores through the
 * main window with the real engines, on private buses with the platform's services mocked (run by
 * bench/hundred-operations through tests/with-buses). After each operation it samples the
 * process's resident memory and open descriptors; from the tenth on, neither may grow by more
 * than 5%, and nothing (marker, lock, temporary file, backup) may be left behind. */

#include "main-view-fixture.h"

#include "RestoreEngine.h"
#include "test-data.h"

#include <QDirIterator>

#include <cstdio>
#include <unistd.h>

namespace
{
struct Sample
{
  qint64 residentBytes;
  int descriptors;
};

Sample
sample ()
{
  Sample result{ 0, 0 };
  QFile statm ("/proc/self/statm");
  if (statm.open (QIODevice::ReadOnly))
    result.residentBytes
        = QString::fromLatin1 (statm.readAll ()).split (' ').value (1).toLongLong ()
          * sysconf (_SC_PAGESIZE);
  result.descriptors = QDir ("/proc/self/fd")
                           .entryList (QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                           .size ();
  return result;
}

/* Files below root that an operation may leave only by mistake. */
QStringList
leftovers (const QString &root)
{
  QStringList found;
  QDirIterator entries (root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
  while (entries.hasNext ())
    {
      QString path = entries.next ();
      QString name = entries.fileName ();
      if (name.startsWith (".sf-") || name.startsWith (".gsf") || name.startsWith (".fuse_hidden")
          || name.endsWith ("lockfile") || name == "kept-export-areas")
        found << path;
    }
  return found;
}

class HundredOperations : public MainViewFixture
{
};
} // namespace

TEST_F (HundredOperations, MemoryAndDescriptorsHoldStillAndNothingIsLeftBehind)
{
  DBusMock exporter (G_BUS_TYPE_SESSION, "com.test.exporter", "/exporter",
                     "com.korvel.backupclient");
  exporter.add_method ("backup", "as", "y", "ret = dbus.Byte(0)");
  exporter.add_method ("restore", "assas", "", "");
  configure ("com.test.exporter");
  /* A backup that stays listed throughout, so that the window keeps its list page. */
  writeRecord ("Kept", 1024);
  openView ();
  view->setUnitTestMode (true);

  std::vector<Sample> samples;
  for (int round = 0; round < 50; round++)
    {
      for (int index = 0; index < 20; index++)
        writeFile (home + QString ("/export/card-%1.vcf").arg (index),
                   QByteArray::fromStdString (random_bytes (16384, round * 100 + index)));
      ASSERT_TRUE (QTest::qWaitFor ([this] { return !view->isListRefreshing (); }, waitMs));
      startFromSheet (QString ("round %1").arg (round));
      ASSERT_EQ (finishBackup (), 100) << "backup " << round;
      waitForListed ("Backup0");
      samples.push_back (sample ());

      view->listRestoreRequested (listedBackup ("Backup0"));
      StartRestoreQueryDialog *query = visible<StartRestoreQueryDialog> ();
      ASSERT_NE (query, nullptr);
      query->button (QDialogButtonBox::Yes)->click ();
      ASSERT_TRUE (QTest::qWaitFor ([this] { return view->findChild<RestoreEngine *> (); }));
      QSignalSpy finished (view->findChild<RestoreEngine *> (),
                           &RestoreEngine::restoreEngineFinished);
      ASSERT_TRUE (finished.wait (waitMs)) << "restore " << round;
      ASSERT_EQ (finished[0][0].toInt (), 200) << "restore " << round;
      ASSERT_TRUE (QTest::qWaitFor ([this] { return !view->isBusy (); }, waitMs));
      /* The list stays as long as it was, so that what it holds does not count as growth. */
      ASSERT_TRUE (view->removeBackupFolder (view->getDefaultTarget (), "Backup0"));
      reload ();
      samples.push_back (sample ());
      fprintf (stderr, "round %2d: rss %6.1f MiB, %d descriptors\n", round + 1,
               samples.back ().residentBytes / 1048576.0, samples.back ().descriptors);
    }

  const Sample base = samples[9];
  Sample peak = base;
  for (size_t index = 10; index < samples.size (); index++)
    {
      peak.residentBytes = std::max (peak.residentBytes, samples[index].residentBytes);
      peak.descriptors = std::max (peak.descriptors, samples[index].descriptors);
    }
  printf ("after operation 10: rss %.1f MiB, %d descriptors\n", base.residentBytes / 1048576.0,
          base.descriptors);
  printf ("after operation 100: rss %.1f MiB, %d descriptors\n",
          samples.back ().residentBytes / 1048576.0, samples.back ().descriptors);
  printf ("peak of operations 11-100: rss %.1f MiB (%+.1f%%), %d descriptors (%+.1f%%)\n",
          peak.residentBytes / 1048576.0, 100.0 * peak.residentBytes / base.residentBytes - 100,
          peak.descriptors, 100.0 * peak.descriptors / base.descriptors - 100);
  EXPECT_LE (peak.residentBytes, base.residentBytes * 105 / 100) << "resident memory grew";
  EXPECT_LE (peak.descriptors * 100, base.descriptors * 105) << "descriptors grew";
  EXPECT_EQ (leftovers (home), QStringList ());
  EXPECT_EQ (leftovers (cardRoot ()), QStringList ());
  EXPECT_EQ (QDir (cardRoot () + "/.backups").entryList (QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{ "Kept" });
}
