#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <optional>

class BackupMainView;
class LumoSuitePage;

/* The desktop suite's side of the phone: "com.korvel.backup.plugin" at "/com/korvel/backup".
 * A backup exchange has the main view back up one content command's categories and answers with
 * a transfer file; a restore exchange receives transfer files one at a time and restores each.
 * Answers that wait for an operation are delayed D-Bus replies. An exchange belongs to no bus
 * connection: the suite may make each call over a new one. Lives on the GUI thread. */
class BackupService : public QObject, protected QDBusContext
{
  Q_OBJECT
  Q_CLASSINFO ("D-Bus Interface", "com.korvel.backup.plugin")

public:
  explicit BackupService (BackupMainView *mainView);

  /* True while a suite exchange is open or a queued request is pending or running. */
  bool isServingRequests () const;

  /* The main window was asked to close while a suite operation runs: handled as the suite's
   * cancel, so that the program ends once that operation has ended. */
  void closeRequested ();

public Q_SLOTS:
  int request (const QString &operation, const QString &command, int fileSize, QString &filePath);
  void cancel ();
  void slotExitApp ();
  void doRestoreCompleteReboot ();
  void lumoBackupFinished (int result);
  void lumoRestoreFinished (int result);
  void checkAndStartRestore ();

private:
  enum class Exchange
  {
    None,
    Backup,
    Restore,
  };

  /* A delayed call, or a received transfer file waiting for its restore. */
  struct RequestItem
  {
    QDBusConnection connection;
    QDBusMessage message;
    QString path;
    int categories;
    bool delayed;
    bool received; // its "close" arrived with the size the suite announced
  };

  void startExchange (int command);
  void stopBackupExchange (const QString &operation);
  void stopRestoreExchange (const QString &operation);
  void handleBackupContent (const QString &operation, int categories);
  void handleRestoreContent (const QString &operation, int categories);
  void openRestoreItem (int categories);
  void receiveRestoreFile ();
  void startBackupOperation ();
  void startRestore (RequestItem item);
  void finishRestoreItem (bool restored);
  void answerWaitingOpens ();
  void failUnreceivedItems ();
  void finishRestoreExchange ();
  void endExchange (bool removeFiles);
  void exchangeIdle ();
  void touchExchange ();
  void quitWhenIdle ();
  void refuse ();
  bool prepareWorkingPath (const QString &path);
  RequestItem delayCall (const QString &path, int categories);
  void sendReply (const RequestItem &item, int result, const QString &path);
  void exitApp ();
  void showLumoOperationUI ();
  void closeLumoOperationUI ();
  static int mapBackupResult (int status);
  static int mapRestoreResult (int status);
  static QString workingDirectory ();

  BackupMainView *mainView_;
  int result_ = 0;
  int exchangeMode_ = 0;
  Exchange exchange_ = Exchange::None;
  QString workingPath_;
  int expectedSize_ = 0;
  std::optional<RequestItem> backupItem_;
  QList<RequestItem> requestQueue_;
  bool restoring_ = false;
  bool restoreFailed_ = false;
  bool rebootNeeded_ = false;
  bool exitWhenIdle_ = false;
  std::optional<RequestItem> stopReply_;
  QTimer idleTimer_;
  QPointer<LumoSuitePage> operationPage_;
};
