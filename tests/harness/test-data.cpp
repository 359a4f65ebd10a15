#include "test-data.h"

#include <cstring>

std::string
random_bytes (gsize size, guint32 seed)
{
  g_autoptr (GRand) rand = g_rand_new_with_seed (seed);
  std::string bytes (size, '\0');
  for (gsize i = 0; i < size; i += 4)
    {
      guint32 value = g_rand_int (rand);
      memcpy (&bytes[i], &value, MIN (4, size - i));
    }
  return bytes;
}

std::string
random_letters (gsize size, guint32 seed)
{
  std::string letters = random_bytes (size, seed);
  for (char &byte : letters)
    byte = "abcdefghijklmno "[byte & 15];
  return letters;
}

std::string
read_file (const std::string &path)
{
  g_autofree gchar *contents = NULL;
  gsize length = 0;
  if (!g_file_get_contents (path.c_str (), &contents, &length, NULL))
    return "(missing)";
  return std::string (contents, length);
}
