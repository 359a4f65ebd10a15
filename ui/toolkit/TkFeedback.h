#pragma once

#include <QObject>

/* A client of the non-graphical feedback service: plays named sound events. On a desktop the
 * event is traced and, where the sound theme player is installed, played as the nearest theme
 * sound. */
class TkFeedback : public QObject
{
  Q_OBJECT

public:
  explicit TkFeedback (QObject *parent = nullptr);

  void play (const QString &event);

Q_SIGNALS:
  void played (const QString &event);

private:
  QString player_;
};
