#include "TkMessageBox.h"

#include "TkSheet.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{
const int panelMargin = 20;

/* The catalogue IDs of the standard buttons the program uses. */
const char *
buttonTextId (QDialogButtonBox::StandardButton button)
{
  switch (button)
    {
    case QDialogButtonBox::Yes:
      return "qtn_comm_yes";
    case QDialogButtonBox::No:
      return "qtn_comm_no";
    case QDialogButtonBox::Cancel:
      return "qtn_comm_cancel";
    default:
      return "qtn_comm_ok";
    }
}

bool
isAffirmative (QDialogButtonBox::StandardButton button)
{
  return button == QDialogButtonBox::Ok || button == QDialogButtonBox::Yes;
}
} // namespace

TkMessageBox::TkMessageBox (const QString &title, const QString &text,
                            QDialogButtonBox::StandardButtons buttons, QWidget *parent)
    : QDialog (parent), panel_ (new QFrame), title_ (new QLabel (title)), text_ (new QLabel (text))
{
  if (parent != nullptr)
    setWindowFlags (Qt::Widget);
  else
    setWindowModality (Qt::ApplicationModal);
  panel_->setObjectName (QStringLiteral ("tkMessageBox"));
  /* Texts carry names from cards and logs: never markup. */
  title_->setTextFormat (Qt::PlainText);
  text_->setTextFormat (Qt::PlainText);
  title_->setObjectName (QStringLiteral ("tkTitle"));
  title_->setAlignment (Qt::AlignCenter);
  title_->setWordWrap (true);
  title_->setVisible (!title.isEmpty ());
  text_->setWordWrap (true);

  /* Negative answers on the left, the affirmative one on the right. */
  auto *row = new QHBoxLayout;
  row->setSpacing (12);
  const QDialogButtonBox::StandardButton order[] = { QDialogButtonBox::No, QDialogButtonBox::Cancel,
                                                     QDialogButtonBox::Yes, QDialogButtonBox::Ok };
  for (QDialogButtonBox::StandardButton which : order)
    {
      if (!(buttons & which))
        continue;
      auto *push = new QPushButton (qtTrId (buttonTextId (which)));
      push->setAutoDefault (false);
      if (isAffirmative (which))
        push->setObjectName (QStringLiteral ("tkAcceptButton"));
      row->addWidget (push, 1);
      buttons_.append ({ which, push });
      connect (push, &QPushButton::clicked, this, [this, which] () { buttonClicked (which); });
    }

  auto *panelLayout = new QVBoxLayout (panel_);
  panelLayout->setContentsMargins (24, 24, 24, 24);
  panelLayout->setSpacing (20);
  panelLayout->addWidget (title_);
  panelLayout->addWidget (text_);
  panelLayout->addLayout (row);

  auto *layout = new QVBoxLayout (this);
  layout->setContentsMargins (panelMargin, panelMargin, panelMargin, panelMargin);
  layout->addStretch (1);
  layout->addWidget (panel_);
  layout->addStretch (1);
}

void
TkMessageBox::setTitle (const QString &title)
{
  title_->setText (title);
  title_->setVisible (!title.isEmpty ());
}

QString
TkMessageBox::title () const
{
  return title_->text ();
}

void
TkMessageBox::setText (const QString &text)
{
  text_->setText (text);
}

QString
TkMessageBox::text () const
{
  return text_->text ();
}

QAbstractButton *
TkMessageBox::button (QDialogButtonBox::StandardButton which) const
{
  for (const auto &entry : buttons_)
    if (entry.first == which)
      return entry.second;
  return nullptr;
}

void
TkMessageBox::setVisible (bool visible)
{
  if (visible)
    coverHost ();
  QDialog::setVisible (visible);
}

void
TkMessageBox::appear ()
{
  show ();
  raise ();
  if (!buttons_.isEmpty ())
    buttons_.constLast ().second->setFocus ();
}

/* The box covers the topmost sheet open over its window, else the window itself, and follows
 * that page's size. */
void
TkMessageBox::coverHost ()
{
  if (isWindow () || parentWidget () == nullptr)
    return;
  QWidget *window = parentWidget ()->window ();
  if (auto *sheet = qobject_cast<TkSheet *> (window))
    window = sheet->parentWidget () != nullptr ? sheet->parentWidget ()->window () : window;
  QWidget *host = TkSheet::topmostOver (window);
  if (host == nullptr)
    host = window;
  if (parentWidget () != host)
    {
      parentWidget ()->removeEventFilter (this);
      setParent (host, Qt::Widget);
    }
  host->installEventFilter (this);
  setGeometry (host->rect ());
}

bool
TkMessageBox::eventFilter (QObject *watched, QEvent *event)
{
  if (watched == parentWidget () && event->type () == QEvent::Resize)
    setGeometry (parentWidget ()->rect ());
  /* A sheet closing under an open box leaves the box on the page beneath. */
  if (watched == parentWidget () && event->type () == QEvent::Hide && !isHidden ()
      && qobject_cast<TkSheet *> (watched) != nullptr)
    {
      watched->removeEventFilter (this);
      setParent (static_cast<QWidget *> (watched)->parentWidget (), Qt::Widget);
      show ();
    }
  return QDialog::eventFilter (watched, event);
}

void
TkMessageBox::paintEvent (QPaintEvent *event)
{
  if (!isWindow ())
    {
      QPainter painter (this);
      painter.fillRect (rect (), QColor (0, 0, 0, 140));
      painter.fillRect (panel_->geometry (), palette ().color (QPalette::Window));
    }
  QDialog::paintEvent (event);
}

void
TkMessageBox::buttonClicked (QDialogButtonBox::StandardButton which)
{
  /* done() reports accepted and rejected only for the codes 1 and 0; these are button codes. */
  done (which);
  if (isAffirmative (which))
    Q_EMIT accepted ();
  else
    Q_EMIT rejected ();
}

void
TkMessageBox::showEvent (QShowEvent *event)
{
  QDialog::showEvent (event);
  Q_EMIT appeared ();
}
