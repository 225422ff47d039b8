#!/usr/bin/env bash
# Gives every file and folder under a staging folder the package's release
# time, so that archives built from it are the same on every build.
set -euo pipefail
find "$1" -exec touch -h -d '2020-01-15 01:00:00 UTC' {} +
