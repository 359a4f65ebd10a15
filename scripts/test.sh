#!/usr/bin/env bash
# The one test command: installs what is missing, then builds and runs the whole suite twice,
# once normally and once with AddressSanitizer and UndefinedBehaviorSanitizer, runs the demo of
# the main job, builds and checks the Debian packages, and runs each fuzz target for 30 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh

jobs=$(nproc)
status=0
run_suite() {
  local dir=$1 exclude=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" --parallel "$jobs"
  (cd "$dir" && ctest --output-on-failure --parallel "$jobs" ${exclude:+-E "$exclude"}) || status=1
}

run_suite build "" -DSAFEHOLD_WERROR=ON
# The main job end to end in a headless window; fails when a restored file differs.
SAFEHOLD_DEMO_NO_SETUP=1 scripts/demo.sh || status=1
# The packages a phone image installs: lintian-clean, every file in place.
{ scripts/package.sh && scripts/check-package.sh; } || status=1
run_suite build-sanitize "" -DSAFEHOLD_WERROR=ON -DSAFEHOLD_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
scripts/fuzz.sh 30 || status=1
exit $status
