#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>

/* The desktop suite's single-file transfer format. All integers are big-endian:
 *
 *   count N (signed 8-bit), then N records of
 *   id (signed 8-bit: 0 for the backup's metadata, else the category's bit value),
 *   length L (signed 64-bit), and L bytes of the file, unchanged.
 *
 * Records follow one another in ascending id order with no padding or trailer. A transfer file
 * comes from outside the phone: reading checks its whole layout before anything is written. */
namespace LumoSuiteTransfer
{
struct Record
{
  int id;
  qint64 offset; // of the file's first byte within the transfer file
  qint64 length;
};

/* The name of record id's file in a backup directory: "backup.metadata" for 0, else the
 * category's name + ".zip"; empty for an id the format does not carry. */
QString fileName (int id);

/* Writes files (id to path) as a transfer file at path, replacing it whole: a failure leaves no
 * file, and a link at path is replaced, never followed. Any thread. */
bool merge (const QMap<int, QString> &files, const QString &path, QString *error);

/* The records of the transfer file open on fd, after checking that the count is 2 or 3, every
 * id is 0 or a category bit up to 64 and appears once, the metadata is present, the lengths lie
 * inside the file and add up to its size exactly. Empty with *error set otherwise. Any thread. */
QList<Record> readLayout (int fd, QString *error);

/* The category bits carried by the transfer file at path (0 with *error set when it is
 * malformed). Any thread. */
int categoriesOf (const QString &path, QString *error);

/* Checks the transfer file at path, then writes each record's file, under fileName (id), into a
 * new folder at directory that replaces the one there whole. The files are written into a hidden
 * folder beside it (partialName), the metadata last, and the folder is renamed into place only
 * when they are all whole: an interrupted split never leaves a folder with metadata at directory
 * or the hidden one. A malformed file, or one carrying a category outside allowedCategories,
 * writes nothing. directory's parent is created when missing. Any thread. */
bool split (const QString &path, const QString &directory, int allowedCategories, QString *error);

/* The hidden folder beside a backup folder named name that split writes into. */
QString partialName (const QString &name);

/* Removes whatever stands at path: a folder with all below it, a link as a link. True when
 * nothing is left there. Any thread. */
bool clearPath (const QString &path);

/* Makes path a folder: missing parents are created, and a link or anything else that is not a
 * folder is removed first. Any thread. */
bool makeFolder (const QString &path, QString *error);
}
