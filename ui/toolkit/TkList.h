#pragma once

#include <QScrollArea>
#include <QTimer>

#include <memory>

class QVBoxLayout;

/* Makes the cell widget of one row of a TkList. */
class TkCellCreator
{
public:
  virtual ~TkCellCreator () = default;
  virtual QWidget *createCell (int row) const = 0;
};

/* A scrolling list of touch-sized cells made by a cell creator. A tap emits itemClicked; a long
 * press (or a context-menu request on a desktop) emits itemLongTapped with the position for an
 * object menu. */
class TkList : public QScrollArea
{
  Q_OBJECT

public:
  explicit TkList (QWidget *parent = nullptr);

  void setCellCreator (std::unique_ptr<TkCellCreator> creator);
  /* Rebuilds every cell for count rows. */
  void setRowCount (int count);
  int rowCount () const
  {
    return cells_.size ();
  }
  QWidget *cell (int row) const;

Q_SIGNALS:
  void itemClicked (int row);
  void itemLongTapped (int row, const QPoint &globalPosition);

protected:
  bool eventFilter (QObject *watched, QEvent *event) override;

private:
  std::unique_ptr<TkCellCreator> creator_;
  QVBoxLayout *layout_;
  QList<QWidget *> cells_;
  QTimer longPressTimer_;
  int pressedRow_ = -1;
  QPoint pressedPosition_;
};
