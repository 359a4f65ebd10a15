#include "ProcessSheet.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

ProcessSheet::ProcessSheet (const char *titleId, const char *labelId, QWidget *parent)
    : TkSheet (parent), label_ (new QLabel (qtTrId (labelId))), bar_ (new QProgressBar)
{
  setTitle (qtTrId (titleId));
  acceptButton ()->hide ();
  cancelButton ()->setText (qtTrId ("qtn_comm_cancel"));
  label_->setTextFormat (Qt::PlainText);
  label_->setWordWrap (true);
  bar_->setRange (0, 100);
  bar_->setValue (0);
  bodyLayout ()->addStretch (1);
  bodyLayout ()->addWidget (label_);
  bodyLayout ()->addWidget (bar_);
  bodyLayout ()->addStretch (2);
  connect (cancelButton (), &QPushButton::clicked, this, &ProcessSheet::slotOnCancelButtonPressed);
}

int
ProcessSheet::progress () const
{
  return bar_->value ();
}

QString
ProcessSheet::label () const
{
  return label_->text ();
}

void
ProcessSheet::slotProgressChanged (int currentProgress)
{
  bar_->setValue (currentProgress);
}

void
ProcessSheet::slotOnCancelButtonPressed ()
{
  Q_EMIT cancelRequested ();
}

void
ProcessSheet::slotOnEngineStartedCancel ()
{
  cancelling_ = true;
  cancelButton ()->setEnabled (false);
  label_->setText (qtTrId ("qtn_back_cancelingbackup"));
}

void
ProcessSheet::setCompleted ()
{
  bar_->setValue (100);
}

void
ProcessSheet::dismiss ()
{
  ended_ = true;
  close ();
}

void
ProcessSheet::reject ()
{
  /* Escape, the window manager's close and a stray reject all land here: the sheet is the only
   * view of a running operation and its only way to cancel. */
  if (!ended_)
    return;
  TkSheet::reject ();
}
