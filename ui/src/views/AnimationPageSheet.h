#pragma once

#include "TkPage.h"

/* The page shown while the desktop suite drives a backup or a restore: a spinner and what runs. */
class AnimationPageSheet : public TkPage
{
  Q_OBJECT

public:
  AnimationPageSheet (bool restoring, QWidget *parent = nullptr);
};
