#include "sf-backup-info.h"

#include "BackupItemDialog.h"

#include "BackupMessageBoxes.h"
#include "RestoreDeleteFileQueryDialog.h"
#include "StartRestoreQueryDialog.h"
#include "TkElidedLabel.h"
#include "Tracing.h"

#include <QAbstractTextDocumentLayout>
#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

namespace
{
/* The notes view grows with its text up to a third of the screen, then scrolls. */
const int notesMaxHeight = 280;

QLabel *
infoLabel (const QString &text, const char *name)
{
  auto *label = new QLabel (text);
  label->setObjectName (QLatin1String (name));
  label->setTextFormat (Qt::PlainText);
  label->setWordWrap (true);
  return label;
}

/* The whole notes of a backup, read-only. Notes come from cards: set as plain text, never markup,
 * and wrapped anywhere, so that a long word cannot widen the sheet; a long note scrolls. */
QTextEdit *
notesView (const QString &notes)
{
  auto *view = new QTextEdit;
  view->setObjectName (QStringLiteral ("notesView"));
  view->setReadOnly (true);
  view->setAcceptRichText (false);
  view->setPlainText (notes);
  /* Aligned with the labels above and below it. */
  view->document ()->setDocumentMargin (0);
  view->setWordWrapMode (QTextOption::WrapAtWordBoundaryOrAnywhere);
  view->setFrameShape (QFrame::NoFrame);
  view->setHorizontalScrollBarPolicy (Qt::ScrollBarAlwaysOff);
  view->viewport ()->setAutoFillBackground (false);
  view->setTextInteractionFlags (Qt::TextSelectableByMouse);
  QObject::connect (view->document ()->documentLayout (),
                    &QAbstractTextDocumentLayout::documentSizeChanged, view,
                    [view] (const QSizeF &size) {
                      view->setFixedHeight (
                          qMin (notesMaxHeight, int (size.height ()) + 2 * view->frameWidth ()));
                    });
  return view;
}
} // namespace

BackupItemDialog::BackupItemDialog (SfBackupInfo *info, QWidget *mainView)
    : TkSheet (mainView), info_ (sf_backup_info_ref (info)), mainView_ (mainView)
{
  QLocale locale;
  setTitle (qtTrId ("qtn_back_backup_options"));
  acceptButton ()->hide ();
  cancelButton ()->setText (qtTrId ("qtn_comm_cancel"));

  QDateTime made = QDateTime::fromSecsSinceEpoch (sf_backup_info_get_timestamp (info_));
  guint64 bytes = sf_backup_info_get_size_for_categories (info_, SF_CATEGORY_ALL);
  /* The name comes from the card's folder: plain text, elided to the screen. */
  auto *name = new TkElidedLabel (QString::fromUtf8 (sf_backup_info_get_name (info_)));
  name->setObjectName (QStringLiteral ("nameLabel"));
  bodyLayout ()->addWidget (name);
  QString notes = QString::fromUtf8 (sf_backup_info_get_notes (info_)).trimmed ();
  if (!notes.isEmpty ())
    bodyLayout ()->addWidget (notesView (notes));
  bodyLayout ()->addWidget (infoLabel (locale.toString (made, QLocale::ShortFormat), "timeLabel"));
  bodyLayout ()->addWidget (
      infoLabel (qtTrId ("qtn_comm_kilobytes").arg (locale.toString (qulonglong (bytes / 1024))),
                 "sizeLabel"));
  if (sf_backup_info_get_is_protected (info_))
    bodyLayout ()->addWidget (infoLabel (qtTrId ("qtn_back_protected"), "protectedLabel"));
  gint32 restored = sf_backup_info_get_time_for_restoration (info_);
  if (restored != 0)
    bodyLayout ()->addWidget (infoLabel (
        qtTrId ("qtn_back_usedforrestore")
            .arg (locale.toString (QDateTime::fromSecsSinceEpoch (restored), QLocale::ShortFormat)),
        "restoredLabel"));
  bodyLayout ()->addWidget (infoLabel (qtTrId ("qtn_back_backupfilecontents2"), "bodyLabel"));
  bodyLayout ()->addStretch (1);

  auto *restoreButton = new QPushButton (qtTrId ("qtn_back_restore"));
  restoreButton->setObjectName (QStringLiteral ("restoreButton"));
  auto *deleteButton = new QPushButton (qtTrId ("qtn_back_delete"));
  deleteButton->setObjectName (QStringLiteral ("deleteButton"));
  bodyLayout ()->addWidget (restoreButton);
  bodyLayout ()->addWidget (deleteButton);

  connect (restoreButton, &QPushButton::clicked, this, &BackupItemDialog::slotRestoreButtonClicked);
  connect (deleteButton, &QPushButton::clicked, this, &BackupItemDialog::slotDeleteButtonClicked);
  connect (cancelButton (), &QPushButton::clicked, this,
           &BackupItemDialog::slotCancelButtonClicked);
  BackupMessageBoxes::closeWithSubWindows (this, mainView);
}

BackupItemDialog::~BackupItemDialog ()
{
  sf_backup_info_unref (info_);
}

void
BackupItemDialog::slotRestoreButtonClicked ()
{
  auto *query = new StartRestoreQueryDialog (mainView_,
                                             QString::fromUtf8 (sf_backup_info_get_name (info_)));
  connect (query, &QDialog::accepted, this, &BackupItemDialog::slotRestoreConfirmed);
  query->appear ();
}

void
BackupItemDialog::slotDeleteButtonClicked ()
{
  auto *query
      = new RestoreDeleteFileQueryDialog (QString::fromUtf8 (sf_backup_info_get_name (info_)),
                                          sf_backup_info_get_timestamp (info_), mainView_);
  connect (query, &QDialog::accepted, this, &BackupItemDialog::slotDeleteConfirmed);
  query->appear ();
}

void
BackupItemDialog::slotRestoreConfirmed ()
{
  TRACE ("Restore is confirmed");
  accept ();
  Q_EMIT onRestoreConfirmed ();
}

void
BackupItemDialog::slotDeleteConfirmed ()
{
  TRACE ("Delete is confirmed... emitting signal");
  accept ();
  Q_EMIT onDeleteConfirmed ();
}

void
BackupItemDialog::slotCancelButtonClicked ()
{
  reject ();
}
