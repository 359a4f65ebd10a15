#include "sf-error.h"

G_DEFINE_QUARK (sf - error - quark, sf_error)
