#pragma once

#include <QWidget>

/* A small padlock painted in the text colour, so that it shows on any machine whatever fonts it
 * has. Screen readers read its accessible name. */
class TkLockIcon : public QWidget
{
  Q_OBJECT

public:
  /* accessibleName is what a screen reader says for the lock. */
  explicit TkLockIcon (const QString &accessibleName, QWidget *parent = nullptr);

  QSize sizeHint () const override;

protected:
  void paintEvent (QPaintEvent *event) override;
};
