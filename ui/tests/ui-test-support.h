#pragma once

#include "sf-backend.h"
#include "sf-backup-configurations.h"
#include "sf-log.h"
#include "sf-target-fake.h"
#include "sf-target-manager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <gtest/gtest.h>

#include <memory>
#include <string>

/* One QCoreApplication for the whole test program, so that Qt D-Bus replies and timers arrive. */
class QtEnvironment : public testing::Environment
{
public:
  void SetUp () override
  {
    application = std::make_unique<QCoreApplication> (argc, argv);
  }
  void TearDown () override
  {
    application.reset ();
  }

private:
  int argc = 1;
  char name[8] = "ui-test";
  char *argv[2] = { name, nullptr };
  std::unique_ptr<QCoreApplication> application;
};

/* Application configuration files in a folder of the sandboxed home, read by the engine's tables
 * as trusted files. */
class ApplicationConfigurations
{
public:
  ApplicationConfigurations ()
      : root (QDir::homePath () + "/configurations"), applications (root + "/applications")
  {
    QDir ().mkpath (applications);
    QDir ().mkpath (QDir::homePath () + "/install");
    qputenv ("INSTALLHOME", (QDir::homePath () + "/install").toUtf8 ());
  }
  ~ApplicationConfigurations ()
  {
    sf_backup_configurations_free ();
    QDir (root).removeRecursively ();
  }

  /* An application notified over D-Bus (service NULL: no D-Bus record) with the given method
   * words and location elements. */
  void add (const QString &name, const QString &methods, const QString &service,
            const QString &locations)
  {
    QString dbus = service.isEmpty () ? QString ()
                                      : "<backup-dbus><dbus-service object=\"/" + name + "\">"
                                            + service + "</dbus-service></backup-dbus>";
    QString text = "<?xml version=\"1.0\"?>\n<backup-configuration><application-name>" + name
                   + "</application-name><application-type>korvel</application-type>"
                   + "<backup-method>" + methods + "</backup-method>" + dbus + "<locations>"
                   + locations + "</locations></backup-configuration>\n";
    QFile file (applications + "/" + name + ".conf");
    ASSERT_TRUE (file.open (QIODevice::WriteOnly));
    file.write (text.toUtf8 ());
  }

  void load ()
  {
    sf_backup_configurations_init (root.toUtf8 ().constData ());
  }

private:
  QString root;
  QString applications;
};

/* The process's one backend, whose target manager knows one fake memory card. */
inline SfBackend *
theBackend ()
{
  static SfBackend *backend = [] {
    QString cards = QDir::homePath () + "/fake-cards";
    QDir ().mkpath (cards + "/card");
    QFile (cards + "/card/mounted").open (QIODevice::WriteOnly);
    qputenv ("FAKE_MMC_DIR", cards.toUtf8 ());
    return sf_backend_new ();
  }();
  return backend;
}

/* The fake memory card, borrowed from the target manager; its root is ~/fake-cards/card. */
inline SfTarget *
fakeCard ()
{
  theBackend ();
  for (GList *link = sf_target_manager_get_targets (sf_target_manager_get ()); link != NULL;
       link = link->next)
    if (SF_IS_TARGET_FAKE (link->data))
      return SF_TARGET (link->data);
  return nullptr;
}

inline void
writeFile (const QString &path, const std::string &content)
{
  QDir ().mkpath (QFileInfo (path).path ());
  QFile file (path);
  ASSERT_TRUE (file.open (QIODevice::WriteOnly | QIODevice::Truncate));
  file.write (content.data (), content.size ());
}
