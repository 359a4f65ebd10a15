#include "RestoreProcessSheet.h"

RestoreProcessSheet::RestoreProcessSheet (QWidget *parent)
    : ProcessSheet ("qtn_back_restoring_tit", "qtn_back_restoring", parent)
{
}

void
RestoreProcessSheet::slotOnRestoreFinished ()
{
  setCompleted ();
}
