#include "TkTracing.h"

Q_LOGGING_CATEGORY (tkTrace, "safehold.toolkit", QtInfoMsg)
