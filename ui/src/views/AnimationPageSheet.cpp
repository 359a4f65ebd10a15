#include "AnimationPageSheet.h"

#include "TkSpinner.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

AnimationPageSheet::AnimationPageSheet (bool restoring, QWidget *parent) : TkPage (parent)
{
  setTitle (qtTrId ("qtn_back_backuprestoretitle"));
  escapeButton ()->hide ();
  auto *label = new QLabel (qtTrId (restoring ? "qtn_back_restoring" : "qtn_back_creatingbackup"));
  label->setObjectName (QStringLiteral ("operationLabel"));
  label->setAlignment (Qt::AlignCenter);
  bodyLayout ()->addStretch (1);
  bodyLayout ()->addWidget (new TkSpinner);
  bodyLayout ()->addWidget (label);
  bodyLayout ()->addStretch (1);
}
