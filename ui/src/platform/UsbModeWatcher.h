#pragma once

#include <QDBusError>
#include <QObject>
#include <QString>

/* Follows the USB mode of the platform's USB mode daemon on the system bus: a phone lent to a PC
 * as mass storage, or driven by the PC suite, starts no backup or restore of its own. The daemon
 * is asked at most once between two of its state signals. */
class UsbModeWatcher : public QObject
{
  Q_OBJECT

public:
  /* The process's watcher, made with parent on first use; null when it cannot work. */
  static UsbModeWatcher *newUsbModeWatcher (QObject *parent);
  ~UsbModeWatcher () override;

  bool isConnectedToPC ();
  bool isUsbConnectedInMSMMode ();
  /* The argument of the last state signal. */
  QString lastSignalledState () const
  {
    return lastSignalledState_;
  }

Q_SIGNALS:
  void usbStateChanged ();

public Q_SLOTS:
  void modeChanged (const QString &mode);
  void error (const QDBusError &error);

private:
  explicit UsbModeWatcher (QObject *parent);
  void updateUSBState ();

  static UsbModeWatcher *instance_;

  bool valid_ = false;
  QString currentMode_;
  QString lastSignalledState_;
  bool dirty_ = true;
  bool automationTest_ = false;
};
