#include "sf-i18n.h"

#include <glib/gi18n-lib.h>

void
sf_i18n_init (void)
{
  static gsize bound;
  if (g_once_init_enter (&bound))
    {
      bindtextdomain (GETTEXT_PACKAGE, SAFEHOLD_LOCALE_DIR);
      bind_textdomain_codeset (GETTEXT_PACKAGE, "UTF-8");
      g_once_init_leave (&bound, 1);
    }
}

const gchar *
sf_i18n_translate (const gchar *logical_id)
{
  g_return_val_if_fail (logical_id != NULL, NULL);
  sf_i18n_init ();
  return g_dgettext (GETTEXT_PACKAGE, logical_id);
}

const gchar *
sf_i18n_translate_plural (const gchar *singular, const gchar *plural, gulong count)
{
  g_return_val_if_fail (singular != NULL, NULL);
  g_return_val_if_fail (plural != NULL, NULL);
  sf_i18n_init ();
  return g_dngettext (GETTEXT_PACKAGE, singular, plural, count);
}
