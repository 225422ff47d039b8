#!/usr/bin/env bash
# Gives every file and folder under a staging folder the package's release
# time and permissions that do not depend on the builder's umask, so that
# archives built from it are the same on every build.
set -euo pipefail
chmod -R a+rX,go-w "$1"
find "$1" -exec touch -h -d '2020-01-15 01:00:00 UTC' {} +
