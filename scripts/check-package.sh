#!/usr/bin/env bash
# Checks the Debian package that `make package` built: what it holds (the four programs, the
# desktop entry, the icon, the AppStream file, the manual pages, the documentation, and nothing of
# the tests, benchmarks or fuzzers), that its programs run from an unpacked root, that its desktop
# and AppStream files validate, that the licence text of the copyright file is LICENSE's, and
# that lintian finds no error. With the Python package beside it: its files, and that the module
# imports from an unpacked root and reports the same version.
#   scripts/check-package.sh tovik16-studio_<version>_<arch>.deb [python3-tovik16_<version>_<arch>.deb]
set -euo pipefail
cd "$(dirname "$0")/.."

deb=""
pydeb=""
for f in "$@"; do
  case $(dpkg-deb --field "$f" Package) in
    tovik16-studio) deb=$f ;;
    python3-tovik16) pydeb=$f ;;
    *) echo "check-package: $f is neither tovik16-studio nor python3-tovik16" >&2; exit 1 ;;
  esac
done
[ -n "$deb" ] || { echo "usage: check-package.sh tovik16-studio_*.deb [python3-tovik16_*.deb]" >&2; exit 1; }
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends
package=$(dpkg-deb --field "$deb" Package)
version=$(dpkg-deb --field "$deb" Version)
depends=$(dpkg-deb --field "$deb" Depends)
[ "$(basename "$deb")" = "${package}_${version}_$(dpkg-deb --field "$deb" Architecture).deb" ] ||
  fail "file name $(basename "$deb") is not <package>_<version>_<architecture>.deb"
# The library dependencies are derived from the binaries, not written by hand.
for lib in libpcap0.8 libqt5core5a libc6; do
  grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib (dpkg-shlibdeps did not run?)"
done

# Contents.
dpkg-deb --contents "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/contents"
echo "== contents ($(wc -l <"$work/contents") entries)"
grep -v '/$' "$work/contents"
programs=(tovik16-viewer tovik16-convert tovik16-sim tovik16-monitor)
expected=(/usr/share/applications/org.tovik16.studio.desktop
  /usr/share/metainfo/org.tovik16.studio.metainfo.xml
  /usr/share/mime/packages/tovik16-studio.xml
  /usr/share/doc/tovik16-studio/copyright
  /usr/share/doc/tovik16-studio/changelog.gz
  /usr/share/doc/tovik16-studio/README.md
  /usr/share/doc/tovik16-studio/LICENSE)
for p in "${programs[@]}"; do
  expected+=("/usr/bin/$p" "/usr/share/man/man1/$p.1.gz")
done
for size in 16 22 24 32 48 64 128 256; do
  expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/org.tovik16.studio.png")
done
for path in "${expected[@]}"; do
  grep -qxF "$path" "$work/contents" || fail "missing $path"
done
extra_bin=$(grep '^/usr/bin/.' "$work/contents" | grep -vxF -f <(printf '/usr/bin/%s\n' "${programs[@]}") || true)
[ -z "$extra_bin" ] || fail "unexpected programs: $extra_bin"
unwanted=$(grep -Ei '(_test|test_|/tests?/|bench|fuzz|make-icons|gtest|\.a$|/include/)' "$work/contents" || true)
[ -z "$unwanted" ] || fail "test, benchmark or build files in the package: $unwanted"

# The programs run from an unpacked root, without a display.
dpkg-deb -x "$deb" "$work/root"
bin="$work/root/usr/bin"
for p in "${programs[@]}"; do
  line=$(env -u DISPLAY -u WAYLAND_DISPLAY "$bin/$p" --version) || fail "$p --version failed"
  echo "$line"
  [[ "$line" == "$p $version (git "?*")" ]] || fail "$p --version printed '$line'"
  env -u DISPLAY -u WAYLAND_DISPLAY "$bin/$p" --help >"$work/help.txt" || fail "$p --help failed"
  grep -q -- '--version' "$work/help.txt" || fail "$p --help does not mention --version"
done
grep -q '^Usage: tovik16-convert' <("$bin/tovik16-convert" --help) ||
  fail "tovik16-convert --help lacks its usage line"

# Desktop entry, AppStream metadata, manual pages.
desktop-file-validate "$work/root/usr/share/applications/org.tovik16.studio.desktop" ||
  fail "desktop-file-validate"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.tovik16.studio.metainfo.xml" ||
  fail "appstreamcli validate"
for p in "${programs[@]}"; do
  page="$work/root/usr/share/man/man1/$p.1.gz"
  warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >"$work/page.txt") ||
    fail "man cannot render $p.1"
  [ -z "$warnings" ] || fail "man warns on $p.1: $warnings"
  grep -q -- '--version' "$work/page.txt" || fail "$p.1 does not describe --version"
done

# The copyright file carries LICENSE's terms word for word.
words() { tr -s ' \n\t.' '\n' | grep -v '^$'; }
diff <(sed -n '/^Redistribution/,$p' LICENSE | words) \
  <(sed -n '/^ Redistribution/,$p' "$work/root/usr/share/doc/tovik16-studio/copyright" | words) \
  >/dev/null || fail "the licence in packaging/debian/copyright differs from LICENSE"

if [ -n "$pydeb" ]; then
  echo "== $pydeb"
  dpkg-deb --field "$pydeb" Package Version Depends
  [ "$(dpkg-deb --field "$pydeb" Version)" = "$version" ] || fail "$pydeb has another version"
  grep -q 'python3-numpy' <<<"$(dpkg-deb --field "$pydeb" Depends)" || fail "$pydeb lacks python3-numpy"
  dpkg-deb --contents "$pydeb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/pycontents"
  site=/usr/lib/python3/dist-packages/tovik16
  for path in $site/__init__.py $site/_tovik16.pyi $site/py.typed \
    /usr/share/doc/python3-tovik16/copyright /usr/share/doc/python3-tovik16/changelog.gz; do
    grep -qxF "$path" "$work/pycontents" || fail "$pydeb lacks $path"
  done
  grep -q "^$site/_tovik16\.cpython-.*\.so$" "$work/pycontents" || fail "$pydeb lacks the module"
  unwanted=$(grep -Ei '(/tests?/|test_|conftest|bench|examples|__pycache__)' "$work/pycontents" || true)
  [ -z "$unwanted" ] || fail "test or example files in $pydeb: $unwanted"
  dpkg-deb -x "$pydeb" "$work/pyroot"
  pyversion=$(cd / && PYTHONPATH="$work/pyroot/usr/lib/python3/dist-packages" /usr/bin/python3 -c \
    'import tovik16; print(tovik16.__version__)') || fail "tovik16 does not import from $pydeb"
  echo "tovik16 $pyversion"
  [ "${pyversion:-}" = "$version" ] || fail "tovik16.__version__ is '${pyversion:-}', not $version"
fi

echo "== lintian"
lintian --fail-on error --display-info "$deb" $pydeb || fail "lintian reports errors"

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures failure(s)" >&2
  exit 1
fi
echo "check-package: $deb ${pydeb:+and $pydeb }pass"
