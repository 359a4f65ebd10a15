#pragma once

/* Hostile category archives for restore and extract tests: written through our ZIP layer, then
 * damaged byte by byte where a card or a crafted backup would. */

#include "sf-backup-info.h"
#include "sf-zip-writer.h"

#include <gsf/gsf-output-memory.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

struct CraftedEntry
{
  std::string name;
  std::string content;
  guint mode = 0644;
  gint64 mtime = 1600000000;
};

class CraftedArchive
{
public:
  explicit CraftedArchive (const std::vector<CraftedEntry> &entries)
  {
    GsfOutput *sink = gsf_output_memory_new ();
    SfZipWriter *zip = sf_zip_writer_new (sink, NULL);
    for (const CraftedEntry &entry : entries)
      {
        EXPECT_TRUE (
            sf_zip_writer_begin_file (zip, entry.name.c_str (), entry.mode, entry.mtime, -1, NULL))
            << entry.name;
        for (gsize offset = 0; offset < entry.content.size (); offset += 1 << 20)
          EXPECT_TRUE (sf_zip_writer_write (zip, entry.content.data () + offset,
                                            MIN ((gsize)1 << 20, entry.content.size () - offset),
                                            NULL));
        EXPECT_TRUE (sf_zip_writer_end_file (zip, NULL));
      }
    EXPECT_TRUE (sf_zip_writer_close (zip, NULL));
    sf_zip_writer_free (zip);
    gsf_output_close (sink);
    const guint8 *data = gsf_output_memory_get_bytes (GSF_OUTPUT_MEMORY (sink));
    bytes_.assign ((const char *)data, gsf_output_size (sink));
    g_object_unref (sink);
  }

  /* Changes every copy of entry index's checksum, so that its data no longer matches it. */
  void damage_checksum (size_t index)
  {
    std::string crc = bytes_.substr (central (index) + 16, 4);
    for (size_t at = 0; (at = bytes_.find (crc, at)) != std::string::npos; at += 4)
      bytes_[at] ^= 1;
  }

  /* Puts a byte that is not UTF-8 in place of the character at position of entry index's name. */
  void break_name (size_t index, size_t position)
  {
    std::string name = name_of (index);
    std::string broken = name;
    broken[position] = '\xff';
    for (size_t at = 0; (at = bytes_.find (name, at)) != std::string::npos; at += name.size ())
      bytes_.replace (at, name.size (), broken);
  }

  /* Makes entry index declare size uncompressed bytes in the central directory. */
  void declare_size (size_t index, guint32 size)
  {
    put32 (central (index) + 24, size);
  }

  /* Makes entry index a symbolic link by its Unix attributes. */
  void make_link (size_t index)
  {
    put32 (central (index) + 38, (guint32)0120777 << 16);
  }

  const std::string &bytes () const
  {
    return bytes_;
  }

  /* Stores the archive as category's archive of info and records it in the metadata. */
  void save (SfBackupInfo *info, SfCategory category, guint32 files, guint64 size = 0) const
  {
    g_autoptr (GError) error = sf_backup_info_create_dir (info);
    ASSERT_EQ (error, nullptr);
    g_autofree gchar *path = sf_backup_info_get_category_archive_path (info, category);
    ASSERT_TRUE (g_file_set_contents (path, bytes_.data (), bytes_.size (), NULL));
    sf_backup_info_set_data_amount (info, category, size > 0 ? size : bytes_.size (), files);
    g_autoptr (GError) metadata_error = sf_backup_info_write_metadata (info);
    ASSERT_EQ (metadata_error, nullptr);
  }

private:
  size_t central (size_t index) const
  {
    size_t at = bytes_.find ("PK\x01\x02");
    for (size_t skipped = 0; skipped < index && at != std::string::npos; skipped++)
      at = bytes_.find ("PK\x01\x02", at + 4);
    EXPECT_NE (at, std::string::npos) << "no entry " << index;
    return at;
  }

  std::string name_of (size_t index) const
  {
    size_t at = central (index);
    guint length = (guint8)bytes_[at + 28] | (guint8)bytes_[at + 29] << 8;
    return bytes_.substr (at + 46, length);
  }

  void put32 (size_t at, guint32 value)
  {
    for (int byte = 0; byte < 4; byte++)
      bytes_[at + byte] = (char)((value >> (8 * byte)) & 0xff);
  }

  std::string bytes_;
};
