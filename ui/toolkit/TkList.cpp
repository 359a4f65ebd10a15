#include "TkList.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace
{
const int longPressMs = 800;
const int cellHeight = 88;
} // namespace

TkList::TkList (QWidget *parent) : QScrollArea (parent), layout_ (new QVBoxLayout)
{
  auto *content = new QWidget;
  layout_->setContentsMargins (0, 0, 0, 0);
  layout_->setSpacing (0);
  layout_->addStretch (1);
  content->setLayout (layout_);
  setWidget (content);
  setWidgetResizable (true);
  setFrameShape (QFrame::NoFrame);
  setHorizontalScrollBarPolicy (Qt::ScrollBarAlwaysOff);

  longPressTimer_.setSingleShot (true);
  longPressTimer_.setInterval (longPressMs);
  connect (&longPressTimer_, &QTimer::timeout, this, [this] () {
    int row = pressedRow_;
    pressedRow_ = -1;
    Q_EMIT itemLongTapped (row, pressedPosition_);
  });
}

void
TkList::setCellCreator (std::unique_ptr<TkCellCreator> creator)
{
  creator_ = std::move (creator);
}

void
TkList::setRowCount (int count)
{
  longPressTimer_.stop ();
  pressedRow_ = -1;
  qDeleteAll (cells_);
  cells_.clear ();
  for (int row = 0; creator_ != nullptr && row < count; row++)
    {
      QWidget *cell = creator_->createCell (row);
      cell->setMinimumHeight (cellHeight);
      cell->setProperty ("tkRow", row);
      cell->installEventFilter (this);
      layout_->insertWidget (row, cell);
      cells_.append (cell);
    }
}

QWidget *
TkList::cell (int row) const
{
  return row >= 0 && row < cells_.size () ? cells_.at (row) : nullptr;
}

bool
TkList::eventFilter (QObject *watched, QEvent *event)
{
  auto *cell = qobject_cast<QWidget *> (watched);
  if (cell == nullptr || !cells_.contains (cell))
    return QScrollArea::eventFilter (watched, event);
  int row = cell->property ("tkRow").toInt ();
  switch (event->type ())
    {
    case QEvent::MouseButtonPress:
      pressedRow_ = row;
      pressedPosition_ = static_cast<QMouseEvent *> (event)->globalPosition ().toPoint ();
      longPressTimer_.start ();
      return true;
    case QEvent::MouseButtonRelease:
      /* A press that already became a long tap ends with no click. */
      if (pressedRow_ == row && longPressTimer_.isActive ())
        {
          longPressTimer_.stop ();
          pressedRow_ = -1;
          Q_EMIT itemClicked (row);
        }
      return true;
    case QEvent::ContextMenu:
      longPressTimer_.stop ();
      pressedRow_ = -1;
      Q_EMIT itemLongTapped (row, static_cast<QContextMenuEvent *> (event)->globalPos ());
      return true;
    default:
      return QScrollArea::eventFilter (watched, event);
    }
}
