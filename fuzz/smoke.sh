#!/usr/bin/env bash
# The short fuzzing run that scripts/test.sh makes: every target for a few seconds on
# its seeds (fuzz/run.sh --smoke). Prints "fuzz-smoke: N passed, M failed".
exec "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/run.sh" --smoke "$@"
