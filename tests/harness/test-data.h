#pragma once

#include <glib.h>

#include <string>

/* The same pseudo-random bytes for the same size and seed. */
std::string random_bytes (gsize size, guint32 seed);

/* A file's whole content, or "(missing)" when it cannot be read. */
std::string read_file (const std::string &path);
