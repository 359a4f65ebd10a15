#pragma once

#include <QObject>

class QWidget;
class TkFeedback;

/* The three feedback sounds of the program, played through the platform's feedback service. */
class FeedbackClientWrapper : public QObject
{
  Q_OBJECT

public:
  /* window decides, by its visibility, how strong a conditional warning is. */
  explicit FeedbackClientWrapper (QWidget *window);

  TkFeedback *client () const
  {
    return client_;
  }

public Q_SLOTS:
  void playWarningSnd ();
  void playInformationSnd ();
  /* A strong warning while the window is seen, an ordinary one when it is not. */
  void playConditionalWarningSnd ();

private:
  QWidget *window_;
  TkFeedback *client_;
};
