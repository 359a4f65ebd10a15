#include "sf-backup-configurations.h"
#include "sf-config.h"
#include "sf-log.h"

#include <glib/gi18n.h>
#include <gsf/gsf-utils.h>

#include "BackupApplicationService.h"
#include "BackupIfAdaptor.h"
#include "BackupLastStateInfo.h"
#include "BackupMainView.h"
#include "BackupService.h"
#include "DBusRequestProcessor.h"
#include "TkApplication.h"
#include "Tracing.h"

#include <QDBusConnection>
#include <QDir>

#include <clocale>
#include <csignal>
#include <cstring>

namespace
{
const char *const serviceName = "com.korvel.backup";

gboolean finishRestore = FALSE;
gboolean showVersion = FALSE;
gboolean serviceMode = FALSE;

GOptionEntry optionEntries[] = {
  { "finish-restore", 'f', 0, G_OPTION_ARG_NONE, &finishRestore,
    "Finish the restore process after a reboot", nullptr },
  { "version", 'v', 0, G_OPTION_ARG_NONE, &showVersion, "Display the software version", nullptr },
  { "service-mode", 's', 0, G_OPTION_ARG_NONE, &serviceMode, "Start in service mode", nullptr },
  { nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr }
};

/* A phone always has a language; a machine whose only locale is C would show the catalogues'
 * IDs. C.UTF-8 keeps C's rules while letting gettext honour LANGUAGE, and English is what both
 * catalogues fall back to. Runs before anything reads the locale. */
void
fallBackToEnglish ()
{
  const char *messages = setlocale (LC_MESSAGES, "");
  if (messages != nullptr && std::strcmp (messages, "C") != 0
      && std::strcmp (messages, "POSIX") != 0)
    return;
  g_setenv ("LC_ALL", "C.UTF-8", TRUE);
  g_setenv ("LANGUAGE", "en", FALSE);
}

/* Runs before the application object exists, so that --help and --version are answered by this
 * process with or without a display, and before a running instance is asked to launch. Qt's own
 * options are left for the application object. */
void
parseOptions (int &argc, char **&argv)
{
  GOptionContext *context = g_option_context_new ("- Backup/Restore");
  g_option_context_add_main_entries (context, optionEntries, "safehold");
  g_option_context_set_ignore_unknown_options (context, TRUE);
  g_option_context_parse (context, &argc, &argv, nullptr);
  g_option_context_free (context);
}

/* Only notes the signal: the device's shutdown signal ends the program. */
void
sigtermHandler (int signal)
{
  static const char note[] = "../ui/src/main:119: SIGTERM Received ....\n";
  if (signal == SIGTERM && sf_log_enabled (2))
    {
      ssize_t written = write (STDERR_FILENO, note, sizeof note - 1);
      (void)written;
    }
}

void
installSigtermHandler ()
{
  struct sigaction current = {};
  if (sigaction (SIGTERM, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
    return;
  struct sigaction action = {};
  action.sa_handler = sigtermHandler;
  sigemptyset (&action.sa_mask);
  sigaction (SIGTERM, &action, nullptr);
}

bool
isRunningInDevSandbox ()
{
  if (g_getenv ("SBOX_UNAME_MACHINE") == nullptr)
    return false;
  TRACE ("Inside development sandbox");
  return true;
}

void
runCommand (const QString &command)
{
  TRACE ("Executing command: " + command);
  QByteArray line = command.toUtf8 ();
  gchar **arguments = nullptr;
  if (g_shell_parse_argv (line.constData (), nullptr, &arguments, nullptr))
    g_spawn_sync (nullptr, arguments, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                  nullptr, nullptr, nullptr);
  g_strfreev (arguments);
}

QString
shellQuoted (const QString &text)
{
  g_autofree gchar *quoted = g_shell_quote (text.toUtf8 ().constData ());
  return QString::fromUtf8 (quoted);
}

/* The sandbox has no memory card: the home folder stands in for the card's mount point. */
void
doFakeMountForDevSandbox ()
{
  TRACE ("Faking the mounts for the development sandbox");
  const gchar *home = g_getenv ("HOME");
  QString homeDir = QString::fromUtf8 (home != nullptr ? home : g_get_home_dir ());
  QString documents = homeDir + QStringLiteral ("/MyDocs");
  g_setenv ("FAKE_MMC_DIR", homeDir.toUtf8 ().constData (), TRUE);
  g_setenv ("INTERNAL_MMC_MOUNTPOINT", documents.toUtf8 ().constData (), TRUE);
  runCommand (QStringLiteral ("mkdir -p %1").arg (shellQuoted (documents)));
  runCommand (
      QStringLiteral ("touch %1").arg (shellQuoted (documents + QStringLiteral ("/mounted"))));
}

/* SAFEHOLD_DATA_DIR lets a build tree run with its own data; the installed one otherwise. */
const gchar *
dataDirectory ()
{
  return g_getenv ("SAFEHOLD_DATA_DIR");
}

void
loadConfigurations ()
{
  sf_config_init (dataDirectory ());
  sf_backup_configurations_init (dataDirectory ());
  if (sf_backup_configurations_test_applications_installed ())
    _sf_backup_configurations_remove_applications (
        sf_backup_configurations_get_additional_test_applications ());
}

void
createBackupHome ()
{
  QByteArray path = QDir::homePath ().toUtf8 () + "/.safehold";
  if (g_mkdir_with_parents (path.constData (), 0755) != 0 && sf_log_enabled (2))
    g_warning ("../ui/src/main:215: Couldn't create backup directory: %s", path.constData ());
}

void
traceResult (const char *what, bool result)
{
  TRACE (QLatin1String (what) + (result ? QLatin1String ("true") : QLatin1String ("false")));
}

/* service null: the desktop suite is not served. */
void
publishOnSessionBus (BackupService *service, BackupMainView *mainView)
{
  QDBusConnection bus = QDBusConnection::sessionBus ();
  traceResult ("safehold::main::registerService: com.korvel.backup: ",
               bus.registerService (QLatin1String (serviceName)));
  if (service != nullptr)
    {
      traceResult ("safehold::main::registerService: com.korvel.backup.plugin: ",
                   bus.registerService (QStringLiteral ("com.korvel.backup.plugin")));
      traceResult ("safehold::main::registerObject: /com/korvel/backup: ",
                   bus.registerObject (QStringLiteral ("/com/korvel/backup"), service,
                                       QDBusConnection::ExportAdaptors));
    }
  traceResult ("safehold::main::connect: com.korvel.vigil: ",
               QDBusConnection::systemBus ().connect (
                   QStringLiteral ("com.korvel.vigil"), QStringLiteral ("/com/korvel/vigil/signal"),
                   QStringLiteral ("com.korvel.vigil.signal"), QStringLiteral ("shutdown_ind"),
                   mainView, SLOT (closeApplication ())));
}

void
releaseApplicationLock (bool lockObtained)
{
  if (!lockObtained)
    return;
  BackupLastStateInfo info;
  info.releaseApplicationLock ();
}

void
releaseEngine ()
{
  sf_config_free ();
  sf_backup_configurations_free ();
  sf_log_stop ();
}
} // namespace

int
main (int argc, char **argv)
{
  fallBackToEnglish ();
  parseOptions (argc, argv);
  if (showVersion)
    {
      g_printerr ("safehold 1.06-38\n");
      return 0;
    }

  auto *applicationService = new BackupApplicationService (QLatin1String (serviceName), nullptr);
  auto *application = new TkApplication (argc, argv, QStringLiteral ("backup"), applicationService);

  sf_log_start (initTracing ());
  TRACE ("**********  Backup application started  ***********");

  bool lockObtained = false;
  {
    BackupLastStateInfo info;
    lockObtained = info.getApplicationLock ();
  }

  if (lockObtained)
    BackupMainView::showInterruptedNotificationIfNeeded ();

  if (finishRestore && !BackupMainView::isNeededToInvokePackageManager ())
    {
      releaseEngine ();
      delete application;
      delete applicationService;
      releaseApplicationLock (lockObtained);
      return 0;
    }

  gsf_init ();
  bind_textdomain_codeset ("safehold", "UTF-8");
  createBackupHome ();
  loadConfigurations ();
  if (isRunningInDevSandbox ())
    doFakeMountForDevSandbox ();
  else
    g_setenv ("MMC_MOUNTPOINT", "/home/user/MyDocs", TRUE);
  installSigtermHandler ();

  auto *mainView = new BackupMainView (nullptr, finishRestore, serviceMode);
  /* An instance that only finishes a restore has no list and runs nothing: it does not serve the
   * desktop suite. */
  BackupService *service = nullptr;
  if (!finishRestore)
    {
      service = new BackupService (mainView);
      new BackupIfAdaptor (service);
    }
  publishOnSessionBus (service, mainView);
  new DBusRequestProcessor (mainView);
  mainView->setPortraitOrientation ();
  mainView->setOrientationLocked (true);

  if (!serviceMode)
    {
      TRACE ("Normal start.");
      QObject::connect (applicationService, &BackupApplicationService::triedToLaunchNewInstance,
                        mainView, &BackupMainView::slotTriedToRelaunch, Qt::QueuedConnection);
      mainView->show ();
    }

  application->exec ();

  releaseEngine ();
  gsf_shutdown ();
  delete mainView;
  delete service;
  delete application;
  delete applicationService;
  releaseApplicationLock (lockObtained);
  return 0;
}
