#!/usr/bin/env bash
# Runs a fuzz target for a number of seconds on a fresh copy of its seed corpus.
#   run_fuzz.sh TARGET SECONDS WORKDIR SEEDDIR... [-- libFuzzer options]
# New inputs the run finds go to WORKDIR (emptied first); the seeds stay as they are. A crash
# leaves its input in WORKDIR as crash-* and fails the run.
set -euo pipefail
target=$(realpath "$1") seconds=$2 work=$(realpath -m "$3")
shift 3
seeds=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do seeds+=("$(realpath "$1")"); shift; done
[ "${1:-}" = "--" ] && shift
rm -rf "$work"
mkdir -p "$work"
cd "$work"
# Traces of the program go to standard output: closed (-close_fd_mask=1) to keep the run fast.
exec "$target" -max_total_time="$seconds" -close_fd_mask=1 -rss_limit_mb=2048 -timeout=10 \
  -artifact_prefix="$work/" "$@" "$work" "${seeds[@]}"
