#include "sf-backup-info.h"

#include "BackupList.h"

#include "TkElidedLabel.h"
#include "TkList.h"
#include "TkLockIcon.h"
#include "Tracing.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QVBoxLayout>

namespace
{
const char *const drillDownIcon = "icon-m-common-drilldown-arrow-inverse";
const char *const protectedIcon = "icon-m-common-locked";
/* More than a cell's line holds; the rest of a long note is never measured. */
const int notesLineChars = 256;

class BackupCellCreator : public TkCellCreator
{
public:
  explicit BackupCellCreator (const QList<SfBackupInfo *> &backups) : backups_ (backups)
  {
  }

  QWidget *createCell (int row) const override
  {
    SfBackupInfo *info = backups_.at (row);
    auto *cell = new QWidget;
    auto *texts = new QVBoxLayout;
    /* The name comes from the card's folder: plain text, elided to the cell. */
    auto *title = new TkElidedLabel (QString::fromUtf8 (sf_backup_info_get_name (info)));
    title->setObjectName (QStringLiteral ("title"));
    QDateTime made = QDateTime::fromSecsSinceEpoch (sf_backup_info_get_timestamp (info));
    auto *subtitle = new QLabel (QLocale ().toString (made, QLocale::ShortFormat));
    subtitle->setObjectName (QStringLiteral ("subtitle"));
    subtitle->setTextFormat (Qt::PlainText);
    /* Notes come from the card as well: one plain line, cut at the cell's end. */
    QString notes
        = QString::fromUtf8 (sf_backup_info_get_notes (info)).trimmed ().left (notesLineChars);
    TkElidedLabel *notesLine = nullptr;
    if (!notes.isEmpty ())
      {
        notesLine = new TkElidedLabel (notes);
        notesLine->setObjectName (QStringLiteral ("notes"));
        notesLine->setElideMode (Qt::ElideRight);
      }
    auto *progress = new QProgressBar;
    progress->setObjectName (QStringLiteral ("progress"));
    progress->setRange (0, 100);
    progress->setTextVisible (false);
    progress->hide ();
    auto *heading = new QHBoxLayout;
    heading->addWidget (title);
    if (sf_backup_info_get_is_protected (info))
      {
        /* A protected backup asks for its password before it is restored. */
        auto *lock = new TkLockIcon (qtTrId ("qtn_back_protected"));
        lock->setObjectName (QLatin1String (protectedIcon));
        heading->addWidget (lock);
      }
    heading->addStretch (1);
    texts->addLayout (heading);
    if (notesLine != nullptr)
      texts->addWidget (notesLine);
    texts->addWidget (subtitle);
    texts->addWidget (progress);
    auto *icon = new QLabel (QStringLiteral ("\u203a"));
    icon->setObjectName (QLatin1String (drillDownIcon));
    auto *layout = new QHBoxLayout (cell);
    layout->setContentsMargins (16, 8, 16, 8);
    layout->addLayout (texts, 1);
    layout->addWidget (icon);
    return cell;
  }

private:
  const QList<SfBackupInfo *> &backups_;
};
} // namespace

BackupList::BackupList (QWidget *parent) : QWidget (parent), list_ (new TkList (this))
{
  list_->setCellCreator (std::make_unique<BackupCellCreator> (backups_));
  auto *layout = new QVBoxLayout (this);
  layout->setContentsMargins (0, 0, 0, 0);
  layout->addWidget (list_);
  connect (list_, &TkList::itemClicked, this, &BackupList::slotItemClicked);
  connect (list_, &TkList::itemLongTapped, this, &BackupList::slotItemLongTapped);
}

void
BackupList::setBackups (const QList<SfBackupInfo *> &backups)
{
  slotCloseAllSubviewsSignalReceived ();
  backups_ = backups;
  list_->setRowCount (backups_.size ());
}

void
BackupList::setItemProgress (void *magic, int progress)
{
  for (int row = 0; row < backups_.size (); row++)
    {
      auto *bar = list_->cell (row)->findChild<QProgressBar *> (QStringLiteral ("progress"));
      bool shown = progress >= 0 && backups_.at (row) == magic;
      bar->setVisible (shown);
      if (shown)
        bar->setValue (progress);
    }
}

void
BackupList::slotItemClicked (int row)
{
  if (row < 0 || row >= backups_.size ())
    {
      TRACE ("Index out of range !!!!!!");
      return;
    }
  Q_EMIT itemTapped (backups_.at (row));
}

void
BackupList::slotItemLongTapped (int row, const QPoint &position)
{
  if (row < 0 || row >= backups_.size ())
    {
      TRACE ("Index out of range !!!!!!");
      return;
    }
  void *magic = backups_.at (row);
  slotCloseAllSubviewsSignalReceived ();
  menu_ = new QMenu (this);
  menu_->setAttribute (Qt::WA_DeleteOnClose);
  menu_->addAction (qtTrId ("qtn_back_omdelete"), this,
                    [this, magic] () { Q_EMIT deleteRequested (magic); });
  menu_->addAction (qtTrId ("qtn_back_omrestore"), this,
                    [this, magic] () { Q_EMIT restoreRequested (magic); });
  menu_->popup (position);
}

void
BackupList::slotCloseAllSubviewsSignalReceived ()
{
  if (menu_ != nullptr)
    menu_->close ();
}
