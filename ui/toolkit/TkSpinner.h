#pragma once

#include <QProgressBar>

/* A busy indicator: a progress bar without a range. */
class TkSpinner : public QProgressBar
{
public:
  explicit TkSpinner (QWidget *parent = nullptr) : QProgressBar (parent)
  {
    setRange (0, 0);
    setTextVisible (false);
  }
};
