#include "dbus-mock.h"

#include "TkApplicationService.h"
#include "TkList.h"
#include "TkMessageBox.h"
#include "TkNotification.h"
#include "TkSheet.h"
#include "TkApplicationWindow.h"
#include "offscreen-application.h"

#include <QContextMenuEvent>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace
{
class RowCells : public TkCellCreator
{
public:
  QWidget *createCell (int row) const override
  {
    return new QLabel (QString::number (row));
  }
};

class CountingService : public TkApplicationService
{
public:
  using TkApplicationService::TkApplicationService;
  int launches = 0;
  void launch () override
  {
    launches++;
  }
};
} // namespace

TEST (Toolkit, MessageBoxReportsTheStandardButtonAndItsRole)
{
  ensureApplication ();
  TkMessageBox box (QStringLiteral ("title"), QStringLiteral ("text"),
                    QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  EXPECT_EQ (box.button (QDialogButtonBox::Ok)->text (), QStringLiteral ("OK"));
  QSignalSpy finished (&box, &QDialog::finished);
  QSignalSpy accepted (&box, &QDialog::accepted);
  QSignalSpy rejected (&box, &QDialog::rejected);

  box.appear ();
  box.button (QDialogButtonBox::Ok)->click ();
  ASSERT_EQ (finished.count (), 1);
  EXPECT_EQ (finished.at (0).at (0).toInt (), 1024);
  EXPECT_EQ (accepted.count (), 1);
  EXPECT_EQ (rejected.count (), 0);
  EXPECT_FALSE (box.isVisible ());

  box.appear ();
  box.button (QDialogButtonBox::Cancel)->click ();
  EXPECT_EQ (finished.at (1).at (0).toInt (), int (QDialogButtonBox::Cancel));
  EXPECT_EQ (rejected.count (), 1);

  /* Closed from outside: no button, so neither 1024 nor an acceptance. */
  box.appear ();
  box.reject ();
  EXPECT_EQ (finished.at (2).at (0).toInt (), 0);
  EXPECT_EQ (accepted.count (), 1);
  EXPECT_EQ (rejected.count (), 2);
}

TEST (Toolkit, MessageBoxIsDrawnInsideTheWindowOverItsTopmostSheet)
{
  ensureApplication ();
  TkApplicationWindow window;
  window.show ();
  auto *box = new TkMessageBox (QStringLiteral ("title"), QStringLiteral ("text"),
                                QDialogButtonBox::Yes | QDialogButtonBox::No, &window);
  box->setAttribute (Qt::WA_DeleteOnClose);
  QPointer<TkMessageBox> guard (box);
  box->appear ();
  EXPECT_FALSE (box->isWindow ());
  EXPECT_TRUE (box->isVisible ());
  EXPECT_EQ (box->parentWidget (), &window);
  EXPECT_EQ (box->geometry (), window.rect ());
  QRect panel = box->panel ()->geometry ();
  EXPECT_TRUE (box->rect ().contains (panel));
  EXPECT_NEAR (panel.center ().y (), box->rect ().center ().y (), 2) << "centred";
  QRect yes = box->button (QDialogButtonBox::Yes)->geometry ();
  QRect no = box->button (QDialogButtonBox::No)->geometry ();
  EXPECT_EQ (yes.top (), no.top ()) << "buttons in a row";
  EXPECT_GT (yes.left (), no.right ()) << "the affirmative answer on the right";
  box->button (QDialogButtonBox::No)->click ();
  QCoreApplication::sendPostedEvents (nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE (guard.isNull ()) << "a closed box goes away";

  /* Over a sheet, the box is drawn on the sheet, where the user looks. */
  TkSheet sheet (&window);
  sheet.appear ();
  TkSheet later (&window);
  later.appear ();
  later.hide ();
  TkMessageBox query (QStringLiteral ("t"), QStringLiteral ("q"), QDialogButtonBox::Ok, &window);
  query.appear ();
  EXPECT_EQ (query.parentWidget (), &sheet);
  EXPECT_EQ (query.geometry (), sheet.rect ());
  query.reject ();
}

TEST (Toolkit, ListTellsTapsFromLongPresses)
{
  ensureApplication ();
  TkList list;
  list.setCellCreator (std::make_unique<RowCells> ());
  list.setRowCount (3);
  list.resize (480, 600);
  list.show ();
  ASSERT_TRUE (QTest::qWaitForWindowExposed (&list));
  ASSERT_EQ (list.rowCount (), 3);
  EXPECT_EQ (list.cell (3), nullptr);
  QSignalSpy clicked (&list, &TkList::itemClicked);
  QSignalSpy longTapped (&list, &TkList::itemLongTapped);

  QTest::mouseClick (list.cell (1), Qt::LeftButton);
  ASSERT_EQ (clicked.count (), 1);
  EXPECT_EQ (clicked.at (0).at (0).toInt (), 1);

  QContextMenuEvent menu (QContextMenuEvent::Mouse, QPoint (5, 5), QPoint (50, 50));
  QCoreApplication::sendEvent (list.cell (2), &menu);
  ASSERT_EQ (longTapped.count (), 1);
  EXPECT_EQ (longTapped.at (0).at (0).toInt (), 2);

  /* Holding the finger down is a long tap, and lifting it afterwards is no tap. */
  QTest::mousePress (list.cell (0), Qt::LeftButton);
  ASSERT_TRUE (longTapped.wait (5000));
  EXPECT_EQ (longTapped.at (1).at (0).toInt (), 0);
  QTest::mouseRelease (list.cell (0), Qt::LeftButton);
  EXPECT_EQ (clicked.count (), 1);

  /* Rebuilding the list replaces the cells. */
  list.setRowCount (1);
  EXPECT_EQ (list.rowCount (), 1);
  EXPECT_EQ (list.cell (1), nullptr);
}

TEST (Toolkit, SecondInstanceAsksTheRunningOneToLaunch)
{
  ensureApplication ();
  {
    DBusMock running (G_BUS_TYPE_SESSION, "com.korvel.backup", TkApplicationService::objectPath (),
                      TkApplicationService::interfaceName ());
    running.add_method ("launch", "", "", "");
    CountingService second (QStringLiteral ("com.korvel.backup"));
    EXPECT_FALSE (second.registerService ());
    EXPECT_EQ (running.wait_for_calls ("launch", 1), 1u);
  }

  CountingService first (QStringLiteral ("org.safehold.ToolkitTest"));
  ASSERT_TRUE (first.registerService ());
  QDBusConnection other
      = QDBusConnection::connectToBus (QDBusConnection::SessionBus, QStringLiteral ("other"));
  QDBusMessage call = QDBusMessage::createMethodCall (
      QStringLiteral ("org.safehold.ToolkitTest"),
      QLatin1String (TkApplicationService::objectPath ()),
      QLatin1String (TkApplicationService::interfaceName ()), QStringLiteral ("launch"));
  QDBusPendingCall pending = other.asyncCall (call);
  EXPECT_TRUE (QTest::qWaitFor ([&] () { return first.launches == 1; }, 5000));
  QDBusConnection::disconnectFromBus (QStringLiteral ("other"));
}

TEST (Toolkit, NotificationCarriesItsEventTypeAndBody)
{
  ensureApplication ();
  DBusMock server (G_BUS_TYPE_SESSION, "org.freedesktop.Notifications",
                   "/org/freedesktop/Notifications", "org.freedesktop.Notifications");
  server.add_method ("Notify", "susssasa{sv}i", "u", "ret = 7");
  EXPECT_TRUE (TkNotification::publish (QStringLiteral ("device.error"), QString (),
                                        QStringLiteral ("The backup was interrupted.")));
  ASSERT_EQ (server.wait_for_calls ("Notify", 1), 1u);
  std::string args = server.calls ().at (0).args;
  EXPECT_NE (args.find ("'The backup was interrupted.'"), std::string::npos) << args;
  EXPECT_NE (args.find ("'category': <'device.error'>"), std::string::npos) << args;
}
