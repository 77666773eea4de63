#!/usr/bin/env bash
# Runs the kill campaign for MINUTES on every architecture this machine executes and prints its
# table per structure: kills, survivors' operations, records or messages checked, hangs and
# corrupt reads (both must be 0), records a ring lost by design, queues found broken, and the
# moments the kills fell on. Builds what it needs first.
# Usage: scripts/soak.sh MINUTES [SEED]
#   OSSE_CAMPAIGN_LIVE_STREAMER=0 always kills the auto-dump streamer first (by default it runs
#   on in about half the auto-dump rounds while the writers are killed).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
minutes=${1:?usage: scripts/soak.sh MINUTES [SEED]}
seed=${2:-}
status=0
osse_wine_up
for arch in $(osse_runnable_arches); do
  dir=$(osse_build_dir "$arch")
  [ -f "$dir/build.ninja" ] || osse_configure_and_build
  cmake --build "$dir" --target test_campaign ossetool >/dev/null
  wine=wine
  [ "$arch" = x86_64 ] && wine=$(osse_find_wine64)
  echo "== kill campaign, $arch, $minutes min"
  (cd "$dir/tests" &&
    OSSE_CAMPAIGN_SECONDS=$((minutes * 60)) ${seed:+OSSE_CAMPAIGN_SEED=$seed} \
      "$wine" test_campaign.exe --gtest_filter=Campaign.* </dev/null) || status=1
done
osse_wine_down
exit $status
