/* safehold-suite: the desktop suite's side of "com.korvel.backup.plugin", for a machine without
 * the desktop suite and for the end-to-end tests. It backs up content types of the running
 * program into transfer files and restores such files. */

#include "sf-i18n.h"

#include "LumoSuiteTransfer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{
const int exitFailed = 1;
const int exitUsage = 2;
/* A call the phone answers at once. */
const qint64 quickCallMs = 60 * 1000;
/* A backup or restore may take long; the phone answers when it is done. A wait is given up
 * after an hour, and one more minute for every 10 MB sent before it: the phone restores what it
 * received before it answers, at a few MB/s on a slow memory, and applications may take their
 * time to import. */
const qint64 defaultWaitMs = 60 * 60 * 1000;
const qint64 defaultWaitPer10MbMs = 60 * 1000;

qint64
environmentMs (const char *name, qint64 fallback)
{
  bool valid = false;
  qint64 value = qEnvironmentVariable (name).toLongLong (&valid);
  return valid && value > 0 ? value : fallback;
}

/* How long to wait for an answer after sent bytes of transfer files. */
qint64
waitFor (qint64 sent)
{
  return environmentMs ("SF_SUITE_WAIT_MS", defaultWaitMs)
         + sent / (10 * 1024 * 1024)
               * environmentMs ("SF_SUITE_WAIT_PER_10MB_MS", defaultWaitPer10MbMs);
}

struct ContentType
{
  const char *name;
  int command;
  int categories; // the category bits its transfer file may carry
};

const ContentType contentTypes[] = {
  { "contacts", 1, 1 },   { "calendar", 2, 8 },  { "messages", 3, 6 },
  { "bookmarks", 4, 16 }, { "settings", 5, 32 }, { "applications", 6, 64 },
};

const ContentType *
contentByName (const QString &name)
{
  for (const ContentType &type : contentTypes)
    if (name == type.name)
      return &type;
  return nullptr;
}

/* The content type a transfer file carries: the one whose categories hold all of its own. */
const ContentType *
contentByCategories (int categories)
{
  for (const ContentType &type : contentTypes)
    if (categories != 0 && (categories & ~type.categories) == 0)
      return &type;
  return nullptr;
}

void
say (const QString &text)
{
  fprintf (stderr, "%s\n", qUtf8Printable (text));
}

/* A counted text in the user's language: singular and plural are C formats taking first (%s),
 * count (%lld) and second (%s), in that order. */
QString
counted (const char *singular, const char *plural, qint64 count, const QString &first,
         const QString &second)
{
  const char *format = sf_i18n_translate_plural (
      singular, plural, (gulong)qBound (qint64 (0), count, qint64 (G_MAXLONG)));
  return QString::asprintf (format, qUtf8Printable (first), (long long)count,
                            qUtf8Printable (second));
}

void
printUsage (FILE *stream)
{
  fprintf (
      stream, "%s\n",
      "usage: safehold-suite backup CONTENT... -o OUT\n"
      "       safehold-suite restore [-t PHONEDIR] FILE...\n"
      "       safehold-suite --help | --version\n"
      "\n"
      "CONTENT is contacts, calendar, messages, bookmarks, settings or applications.\n"
      "backup writes one transfer file per content: OUT is that file for one content, and a\n"
      "directory receiving CONTENT.transfer files for several. The program closes afterwards.\n"
      "restore sends transfer files made by backup into PHONEDIR, the phone's transfer folder as\n"
      "this machine reaches it (default: ~/MyDocs/.tmp); the phone restarts when settings were\n"
      "restored. A wait for the phone is given up after an hour and a minute more per 10 MB sent.\n"
      "Exit status: 0 done, 1 something was not backed up or restored, 2 wrong usage.");
}

/* A wrong command line: what is wrong, and where the usage is. */
int
usage (const QString &problem)
{
  say ("safehold-suite: " + problem + "\nTry \"safehold-suite --help\".");
  return exitUsage;
}

/* One call of "request" on the running program, waited for with the elapsed time shown on a
 * terminal. */
class Phone
{
public:
  Phone () : bus_ (QDBusConnection::sessionBus ())
  {
  }

  bool connected () const
  {
    return bus_.isConnected ();
  }

  bool request (const QString &operation, const QString &command, int size, const QString &what,
                int *result, QString *path, qint64 timeoutMs = quickCallMs)
  {
    QDBusMessage call = QDBusMessage::createMethodCall (
        "com.korvel.backup.plugin", "/com/korvel/backup", "com.korvel.backup.plugin", "request");
    call << operation << command << size;
    QDBusPendingReply<int, QString> reply
        = bus_.asyncCall (call, (int)qMin<qint64> (timeoutMs, INT_MAX));

    QElapsedTimer elapsed;
    elapsed.start ();
    QTimer ticker;
    bool terminal = isatty (STDERR_FILENO) && !what.isEmpty ();
    QObject::connect (&ticker, &QTimer::timeout, [&] {
      fprintf (stderr, "\r%s ... %lld s", qUtf8Printable (what), elapsed.elapsed () / 1000);
    });
    if (terminal)
      ticker.start (1000);
    QEventLoop loop;
    QDBusPendingCallWatcher watcher (reply);
    QObject::connect (&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!reply.isFinished ())
      loop.exec ();
    if (terminal && elapsed.elapsed () >= 1000)
      fprintf (stderr, "\r%s ... %lld s\n", qUtf8Printable (what), elapsed.elapsed () / 1000);

    if (reply.isError ())
      {
        say ("safehold-suite: the phone did not answer"
             + QString (reply.error ().type () == QDBusError::NoReply
                            ? " within " + QString::number (timeoutMs / 1000) + " s"
                            : QString ())
             + ": " + reply.error ().message ());
        return false;
      }
    *result = reply.argumentAt<0> ();
    *path = reply.argumentAt<1> ();
    return true;
  }

private:
  QDBusConnection bus_;
};

bool
copyFile (const QString &from, const QString &to, QString *error)
{
  QFile input (from);
  QFile output (to);
  if (!input.open (QIODevice::ReadOnly))
    {
      *error = "cannot read " + from + ": " + input.errorString ();
      return false;
    }
  if (!output.open (QIODevice::WriteOnly | QIODevice::Truncate))
    {
      *error = "cannot write " + to + ": " + output.errorString ();
      return false;
    }
  while (!input.atEnd ())
    {
      QByteArray block = input.read (1 << 16);
      if (block.isEmpty () || output.write (block) != block.size ())
        {
          *error = "cannot copy " + from + " to " + to;
          return false;
        }
    }
  if (!output.flush ())
    {
      *error = "cannot write " + to + ": " + output.errorString ();
      return false;
    }
  return true;
}

bool
backupOne (Phone &phone, const ContentType &type, const QString &destination)
{
  int result = 0;
  QString path;
  const QString command = QString::number (type.command);
  if (!phone.request ("open", command, 0, QString ("backing up ") + type.name, &result, &path,
                      waitFor (0)))
    return false;
  bool done = false;
  QString error;
  if (result != 0)
    say (QString ("safehold-suite: the phone could not back up ") + type.name);
  else if (LumoSuiteTransfer::categoriesOf (path, &error) == 0)
    say ("safehold-suite: the phone's transfer file " + path + " is unusable: " + error);
  else if (!copyFile (path, destination, &error))
    {
      /* Closing would have the phone delete its copy, the only one left now. */
      say ("safehold-suite: " + error + "; the phone keeps its copy at " + path);
      return false;
    }
  else
    {
      say (counted ("%s: %lld byte in %s", "%s: %lld bytes in %s", QFileInfo (destination).size (),
                    type.name, destination));
      done = true;
    }
  if (result == 0)
    phone.request ("close", command, 0, QString (), &result, &path);
  return done;
}

int
backup (Phone &phone, const QStringList &names, const QString &out)
{
  QList<const ContentType *> types;
  for (const QString &name : names)
    {
      const ContentType *type = contentByName (name);
      if (!type)
        return usage ("unknown content \"" + name + "\"");
      types.append (type);
    }
  if (types.isEmpty ())
    return usage ("backup needs at least one CONTENT");
  if (out.isEmpty ())
    return usage ("backup needs -o OUT");
  if (types.size () > 1 && !QDir ().mkpath (out))
    {
      say ("safehold-suite: cannot create the directory " + out);
      return exitFailed;
    }

  int result = 0;
  QString path;
  if (!phone.request ("open", "100", 0, QString (), &result, &path))
    return exitFailed;
  if (result != 0)
    {
      say ("safehold-suite: the phone is busy with a backup or restore and refused the backup; "
           "nothing was backed up");
      return exitFailed;
    }
  bool allDone = true;
  for (const ContentType *type : types)
    {
      QString destination = types.size () > 1 ? out + "/" + type->name + ".transfer" : out;
      allDone = backupOne (phone, *type, destination) && allDone;
    }
  phone.request ("close", "101", 0, QString (), &result, &path);
  return allDone ? 0 : exitFailed;
}

/* Copies from into the phone's transfer folder, reached here at phoneDir, as the file the phone
 * named: answered must be a plain name right below the folder the phone gave at the start,
 * and nothing is written outside phoneDir or through a link, whatever the phone answered. */
bool
sendToPhone (const QString &from, const QString &answered, const QString &startPath,
             const QString &phoneDir, QString *error)
{
  QString name = QFileInfo (answered).fileName ();
  if (startPath.isEmpty () || QFileInfo (answered).path () != QDir::cleanPath (startPath)
      || name.isEmpty () || name == "." || name == ".." || answered.endsWith ('/'))
    {
      *error = "the phone asked for " + answered + ", outside its transfer folder " + startPath;
      return false;
    }
  int folder = open (QFile::encodeName (phoneDir).constData (), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int fd = folder < 0 ? -1
                      : openat (folder, QFile::encodeName (name).constData (),
                                O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0)
    *error = "cannot write " + phoneDir + "/" + name + ": "
             + QString::fromLocal8Bit (strerror (errno));
  if (folder >= 0)
    close (folder);
  if (fd < 0)
    return false;
  QFile output;
  if (!output.open (fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
    {
      close (fd);
      *error = "cannot write " + phoneDir + "/" + name;
      return false;
    }
  QFile input (from);
  if (!input.open (QIODevice::ReadOnly))
    {
      *error = "cannot read " + from + ": " + input.errorString ();
      return false;
    }
  while (!input.atEnd ())
    {
      QByteArray block = input.read (1 << 16);
      if (block.isEmpty () || output.write (block) != block.size ())
        {
          *error = "cannot copy " + from + " to " + phoneDir + "/" + name;
          return false;
        }
    }
  if (output.flush ())
    return true;
  *error = "cannot write " + phoneDir + "/" + name + ": " + output.errorString ();
  return false;
}

int
restore (Phone &phone, const QStringList &files, const QString &phoneDir)
{
  if (files.isEmpty ())
    return usage ("restore needs at least one FILE");
  QList<const ContentType *> types;
  for (const QString &file : files)
    {
      QString error;
      const ContentType *type
          = contentByCategories (LumoSuiteTransfer::categoriesOf (file, &error));
      if (!type)
        {
          say ("safehold-suite: " + file + " is not a transfer file"
               + (error.isEmpty () ? QString (" of one content") : ": " + error));
          return exitFailed;
        }
      types.append (type);
    }

  int result = 0;
  QString startPath;
  if (!phone.request ("open", "200", 0, QString (), &result, &startPath))
    return exitFailed;
  if (result != 0)
    {
      say ("safehold-suite: the phone is busy with a backup or restore and refused the restore; "
           "nothing was sent");
      return exitFailed;
    }
  QStringList notSent;
  qint64 sent = 0;
  for (qsizetype index = 0; index < files.size (); index++)
    {
      const QString command = QString::number (types[index]->command);
      QString error;
      QString path;
      if (!phone.request ("open", command, 0, QString ("waiting to send ") + files[index], &result,
                          &path, waitFor (sent)))
        return exitFailed;
      if (result != 0)
        error = "the phone refused " + files[index];
      else if (!sendToPhone (files[index], path, startPath, phoneDir, &error))
        error += "; " + files[index] + " was not sent";
      else
        {
          int size = (int)QFileInfo (files[index]).size ();
          if (!phone.request ("close", command, size, QString (), &result, &path))
            return exitFailed;
          if (result != 0 || !path.isEmpty ())
            error = "the phone did not accept " + files[index];
          else
            {
              sent += size;
              say (counted ("%s: sent %lld byte of %s", "%s: sent %lld bytes of %s", size,
                            types[index]->name, files[index]));
            }
        }
      if (!error.isEmpty ())
        {
          say ("safehold-suite: " + error);
          notSent.append (files[index]);
        }
    }
  QString path;
  if (!phone.request ("open", "201", 0, "restoring", &result, &path, waitFor (sent)))
    {
      say ("safehold-suite: whether the phone restored what it received is unknown");
      return exitFailed;
    }
  if (result != 0 || !notSent.isEmpty ())
    {
      say ("safehold-suite: not everything was restored"
           + (notSent.isEmpty () ? QString () : "; not sent: " + notSent.join (", "))
           + ". The files here are unchanged; the phone restarts if settings were restored");
      return exitFailed;
    }
  say ("restored; the phone restarts if settings were restored");
  return 0;
}
} // namespace

int
main (int argc, char **argv)
{
  QCoreApplication app (argc, argv);
  QStringList arguments = app.arguments ().mid (1);
  if (arguments.isEmpty ())
    {
      printUsage (stderr);
      return exitUsage;
    }
  if (arguments.contains ("--help") || arguments.contains ("-h"))
    {
      printUsage (stdout);
      return 0;
    }
  if (arguments.contains ("--version") || arguments.contains ("-V"))
    {
      printf ("safehold-suite %s\n", SAFEHOLD_VERSION);
      return 0;
    }

  QString mode = arguments.takeFirst ();
  if (mode != "backup" && mode != "restore")
    return usage ("unknown command \"" + mode + "\"");
  QString out;
  qsizetype option = arguments.indexOf ("-o");
  if (option >= 0)
    {
      if (mode != "backup")
        return usage ("-o is an option of backup");
      if (option + 1 >= arguments.size ())
        return usage ("-o needs OUT");
      out = arguments.takeAt (option + 1);
      arguments.removeAt (option);
    }
  QString phoneDir = QDir::homePath () + "/MyDocs/.tmp";
  qsizetype phoneOption = arguments.indexOf ("-t");
  if (phoneOption >= 0)
    {
      if (mode != "restore")
        return usage ("-t is an option of restore");
      if (phoneOption + 1 >= arguments.size ())
        return usage ("-t needs PHONEDIR");
      phoneDir = arguments.takeAt (phoneOption + 1);
      arguments.removeAt (phoneOption);
    }

  Phone phone;
  if (!phone.connected ())
    {
      say ("safehold-suite: no session bus to reach the phone's program on");
      return exitFailed;
    }
  return mode == "backup" ? backup (phone, arguments, out) : restore (phone, arguments, phoneDir);
}
