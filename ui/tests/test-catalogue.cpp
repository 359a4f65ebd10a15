#include "offscreen-application.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

namespace
{
const QRegularExpression idPattern (QStringLiteral ("\"(qtn_[a-z0-9_]+)\""));

QSet<QString>
idsIn (const QString &text)
{
  QSet<QString> ids;
  for (const QRegularExpressionMatch &match : idPattern.globalMatch (text))
    ids.insert (match.captured (1));
  return ids;
}

QString
readAll (const QString &path)
{
  QFile file (path);
  if (!file.open (QIODevice::ReadOnly))
    return {};
  return QString::fromUtf8 (file.readAll ());
}
} // namespace

TEST (Catalogue, EveryIdOfTheProgramHasAnEnglishText)
{
  ensureApplication ();
  QSet<QString> used;
  for (const char *directory : { "/ui/src", "/ui/toolkit" })
    {
      QDirIterator files (QStringLiteral (SAFEHOLD_SOURCE_DIR) + QLatin1String (directory),
                          { QStringLiteral ("*.cpp"), QStringLiteral ("*.h") }, QDir::Files,
                          QDirIterator::Subdirectories);
      while (files.hasNext ())
        used += idsIn (readAll (files.next ()));
    }
  ASSERT_GT (used.size (), 40);

  QString catalogue = readAll (QStringLiteral (SAFEHOLD_SOURCE_DIR)
                               + QStringLiteral ("/data/translations/safehold_en.ts"));
  QSet<QString> listed;
  QRegularExpression message (QStringLiteral ("<message id=\"(qtn_[a-z0-9_]+)\"[^>]*>"));
  for (const QRegularExpressionMatch &match : message.globalMatch (catalogue))
    listed.insert (match.captured (1));

  for (const QString &id : used)
    {
      EXPECT_TRUE (listed.contains (id)) << qPrintable (id) << " is not in the catalogue";
      /* The compiled catalogue is the one the program loads. */
      EXPECT_NE (qtTrId (id.toUtf8 ().constData ()), id) << qPrintable (id) << " has no text";
    }
}
