#pragma once

#include <QApplication>

class TkApplicationService;

/* The application object of the touch toolkit: a QApplication that looks like a phone application,
 * speaks through the program's ID-based catalogue and, given a service, runs as a single instance:
 * a second start asks the running instance to launch and exits. */
class TkApplication : public QApplication
{
  Q_OBJECT

public:
  TkApplication (int &argc, char **argv, const QString &identifier, TkApplicationService *service);

  TkApplicationService *applicationService () const
  {
    return service_;
  }

  /* Loads the catalogue of the user's language (English when there is none) into application;
   * false when no catalogue was found. */
  static bool installCatalogue (QCoreApplication &application);

private:
  TkApplicationService *service_;
};
