#pragma once

#include "TkSheet.h"

class QLabel;
class QLineEdit;

/* The sheet that starts a new backup: notes, an optional password given twice, and the start
 * button. signalCloseNewBackupDialog(QDialog::Accepted) means start with notes() and
 * password(); QDialog::Rejected means the user cancelled. */
class NewBackupDialog : public TkSheet
{
  Q_OBJECT

public:
  explicit NewBackupDialog (QWidget *mainView);

  /* The trimmed notes of the last start, at most maxNotesLength characters. */
  QString notes () const
  {
    return notes_;
  }
  /* The password of the last start; empty for an unprotected backup. */
  QString password () const
  {
    return password_;
  }
  /* Empties every field for the next use of the sheet. */
  void clearFields ();
  void setLaunchedFromDBus (bool launched);
  bool isLaunchedFromDBus () const
  {
    return launchedFromDBus_;
  }
  void retranslateUi ();

  static constexpr int maxNotesLength = 200;

Q_SIGNALS:
  void signalCloseNewBackupDialog (int result);

public Q_SLOTS:
  void slotPushButtonStartClicked ();
  void slotCancelClicked ();
  void onAppeared ();

protected:
  void changeEvent (QEvent *event) override;

private:
  QLineEdit *notesField_;
  QLineEdit *passwordField_;
  QLineEdit *confirmField_;
  QLabel *message_;
  QLabel *body_;
  QString notes_;
  QString password_;
  bool launchedFromDBus_ = false;
};
