#!/bin/sh
# Every program answers --version with "<name> <project version> (git <revision of the source
# tree>)" and --help with status 0, both without a display (#13: the viewer's --help aborted
# without an X server).
#   program_versions.sh VERSION SOURCE_DIR PROGRAM...
version=$1
source=$2
shift 2
revision=unknown
if top=$(git -C "$source" rev-parse --show-toplevel 2>/dev/null) &&
  [ "$(realpath "$top")" = "$(realpath "$source")" ]; then
  revision=$(git -C "$source" describe --tags --always --dirty 2>/dev/null) || revision=unknown
fi
status=0
for exe in "$@"; do
  name=$(basename "$exe")
  line=$(env -u DISPLAY -u WAYLAND_DISPLAY "$exe" --version 2>&1)
  if [ "$line" != "$name $version (git $revision)" ]; then
    echo "$name --version: '$line', expected '$name $version (git $revision)'"
    status=1
  fi
  if ! help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$exe" --help 2>&1) ||
    ! printf '%s\n' "$help" | grep -q -e '--version'; then
    echo "$name --help failed or does not list --version:"
    printf '%s\n' "$help" | head -5
    status=1
  fi
done
exit $status
