#include "sf-error.h"

GQuark
sf_error_quark (void)
{
  static GQuark quark;
  if (G_UNLIKELY (quark == 0))
    quark = g_quark_from_static_string ("sf-error-quark");
  return quark;
}
