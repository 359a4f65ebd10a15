#include "BackupRestoreErrorUtils.h"
#include "FeedbackClientWrapper.h"
#include "TkFeedback.h"
#include "TkMessageBox.h"
#include "offscreen-application.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QWidget>
#include <gtest/gtest.h>

namespace
{
void
writeLog (const QByteArray &content)
{
  ASSERT_TRUE (QDir::home ().mkpath (QStringLiteral (".safehold")));
  QFile log (BackupRestoreErrorUtils::errorLogPath ());
  ASSERT_TRUE (log.open (QIODevice::WriteOnly | QIODevice::Truncate));
  log.write (content);
}
} // namespace

TEST (ErrorLog, NamesEachApplicationOnceAndRemovesTheLog)
{
  ensureApplication ();
  EXPECT_EQ (BackupRestoreErrorUtils::getErrorReportedAppNames (), QString ());

  writeLog (",& a,& b\n,& b,& c\n");
  EXPECT_EQ (BackupRestoreErrorUtils::getErrorReportedAppNames (), QStringLiteral ("a\nb\nc"));
  EXPECT_FALSE (QFile::exists (BackupRestoreErrorUtils::errorLogPath ()));

  /* An empty list of failed applications leaves a bare separator; padding is not a name. */
  writeLog (",& \n   \n,&  mail ,& \n");
  EXPECT_EQ (BackupRestoreErrorUtils::getErrorReportedAppNames (), QStringLiteral ("mail"));
}

TEST (ErrorLog, LinkInPlaceOfTheLogIsNotFollowedButRemoved)
{
  ensureApplication ();
  QString target = QDir::homePath () + QStringLiteral ("/elsewhere");
  QFile other (target);
  ASSERT_TRUE (other.open (QIODevice::WriteOnly));
  other.write (",& secret\n");
  other.close ();
  ASSERT_TRUE (QDir::home ().mkpath (QStringLiteral (".safehold")));
  ASSERT_TRUE (QFile::link (target, BackupRestoreErrorUtils::errorLogPath ()));

  EXPECT_EQ (BackupRestoreErrorUtils::getErrorReportedAppNames (), QString ());
  EXPECT_FALSE (QFileInfo (BackupRestoreErrorUtils::errorLogPath ()).isSymLink ());
  EXPECT_TRUE (QFile::exists (target));
}

TEST (ErrorLog, DialogNamesTheFailedApplicationsWithAWarningSound)
{
  ensureApplication ();
  QWidget mainView;
  mainView.show ();
  FeedbackClientWrapper feedback (&mainView);
  BackupRestoreErrorUtils errors (&mainView, &feedback);
  QSignalSpy played (feedback.client (), &TkFeedback::played);

  EXPECT_EQ (errors.showRestoreErrorDialogIfNeeded (), nullptr);
  EXPECT_EQ (played.count (), 0);

  /* Names come from scripts and applications: shown as they are, never as markup. */
  writeLog (",& contacts,& <i>calendar</i>");
  TkMessageBox *box = errors.showBackupErrorDialogIfNeeded ();
  ASSERT_NE (box, nullptr);
  EXPECT_EQ (box->title (), qtTrId ("qtn_back_backup_for_app_failed_tit"));
  EXPECT_TRUE (box->text ().contains (QStringLiteral ("contacts\n<i>calendar</i>")))
      << qPrintable (box->text ());
  for (QLabel *label : box->findChildren<QLabel *> ())
    EXPECT_EQ (label->textFormat (), Qt::PlainText) << qPrintable (label->text ());
  EXPECT_FALSE (box->text ().contains (QStringLiteral ("%1")));
  ASSERT_EQ (played.count (), 1);
  EXPECT_EQ (played.at (0).at (0).toString (), QStringLiteral ("warning_snd"));
  box->reject ();
}

TEST (Feedback, ConditionalWarningIsStrongOnlyWhileTheWindowIsSeen)
{
  ensureApplication ();
  QWidget window;
  FeedbackClientWrapper feedback (&window);
  QSignalSpy played (feedback.client (), &TkFeedback::played);
  feedback.playConditionalWarningSnd ();
  window.show ();
  feedback.playConditionalWarningSnd ();
  feedback.playInformationSnd ();
  ASSERT_EQ (played.count (), 3);
  EXPECT_EQ (played.at (0).at (0).toString (), QStringLiteral ("warning_snd"));
  EXPECT_EQ (played.at (1).at (0).toString (), QStringLiteral ("warning_strong"));
  EXPECT_EQ (played.at (2).at (0).toString (), QStringLiteral ("information_snd"));
}
