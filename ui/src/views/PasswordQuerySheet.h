#pragma once

#include "TkSheet.h"

typedef struct _SfBackupInfo SfBackupInfo;

#include <functional>

class QLabel;
class QLineEdit;

/* Asks for the password of a protected backup before it is restored. The password is checked at
 * once; a wrong one is asked again, up to three attempts in all. passwordGiven() carries a
 * password that opens the backup; passwordRefused() follows the third wrong one, and rejected()
 * a cancel. */
class PasswordQuerySheet : public TkSheet
{
  Q_OBJECT

public:
  using PasswordCheck = std::function<bool (const QString &password)>;

  /* Keeps a reference on info while it lives; checks passwords with checkPassword. */
  PasswordQuerySheet (SfBackupInfo *info, QWidget *mainView);
  ~PasswordQuerySheet () override;

  void setPasswordCheck (PasswordCheck check);
  int attemptsLeft () const
  {
    return maxAttempts - attempts_;
  }

  /* Whether password opens the category archives of info: false only when an archive says the
   * password is wrong (damaged archives are the restore's own business). Reads archive headers
   * only. */
  static bool checkPassword (SfBackupInfo *info, const QString &password);

  static constexpr int maxAttempts = 3;

Q_SIGNALS:
  void passwordGiven (const QString &password);
  void passwordRefused ();

public Q_SLOTS:
  void slotAcceptClicked ();

private:
  SfBackupInfo *info_;
  QWidget *mainView_;
  QLineEdit *field_;
  QLabel *message_;
  PasswordCheck check_;
  int attempts_ = 0;
};
