#pragma once

#include <glib.h>

#include <string>

/* The same pseudo-random bytes for the same size and seed. */
std::string random_bytes (gsize size, guint32 seed);

/* Pseudo-random letters and spaces: unlike random bytes, which a backup only stores, deflate
 * works on every byte of them, so packing them takes a while (for tests that act meanwhile). */
std::string random_letters (gsize size, guint32 seed);

/* A file's whole content, or "(missing)" when it cannot be read. */
std::string read_file (const std::string &path);
