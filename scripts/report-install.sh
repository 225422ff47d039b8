#!/usr/bin/env bash
# Prints, in a few lines, what Quillmark Toolkit's installation left in a prefix.
set -uo pipefail
prefix=$1
dest="$prefix/drive_c/Program Files/Quillmark"
if [ -d "$dest" ]; then
  echo "Installed into C:\\Program Files\\Quillmark:"
  (cd "$dest" && find . -type f | sed 's|^\./|  |' | sort)
else
  echo "Nothing installed under C:\\Program Files\\Quillmark."
fi
