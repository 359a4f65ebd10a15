#pragma once

#include <glib.h>

G_BEGIN_DECLS

/* Binds the engine's text domain to the installed catalogues. Safe to call more than once and
 * from any thread; the translation below calls it itself. */
void sf_i18n_init (void);

/* The text shown for one of the engine's "back_fi_" logical IDs in the user's language. Borrowed
 * from the catalogue, for the life of the process. Any thread. */
const gchar *sf_i18n_translate (const gchar *logical_id);

/* The form of a counted text for count in the user's language, singular and plural being the
 * English forms (which are also what is shown without a catalogue). Borrowed from the catalogue
 * or the arguments. Any thread. */
const gchar *sf_i18n_translate_plural (const gchar *singular, const gchar *plural, gulong count);

G_END_DECLS
