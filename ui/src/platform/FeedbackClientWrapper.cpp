#include "FeedbackClientWrapper.h"

#include "TkFeedback.h"

#include <QWidget>

FeedbackClientWrapper::FeedbackClientWrapper (QWidget *window)
    : QObject (window), window_ (window), client_ (new TkFeedback (this))
{
}

void
FeedbackClientWrapper::playWarningSnd ()
{
  client_->play (QStringLiteral ("warning_snd"));
}

void
FeedbackClientWrapper::playInformationSnd ()
{
  client_->play (QStringLiteral ("information_snd"));
}

void
FeedbackClientWrapper::playConditionalWarningSnd ()
{
  if (window_ != nullptr && window_->isVisible ())
    client_->play (QStringLiteral ("warning_strong"));
  else
    playWarningSnd ();
}
