#!/usr/bin/env bash
# The Debian package built from the build folder, unpacked into a scratch
# root (never installed), and used from there as its users would: the tool,
# the Python modules, the CMake package, the manual page and the desktop
# entry.
#   deb_test.sh BUILD_DIR SOURCE_DIR MAKE_SAMPLES
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
make_samples=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "deb_test: $*" >&2; exit 1; }

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb="$scratch/out/vellix-publisher_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $(basename "$deb") in: $(ls "$scratch/out")"

# Dependencies: the libraries found in the binaries and the data the engine
# opens at run time.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in fonts-dejavu-core fonts-dejavu-extra hyphen-en-us libhyphen0 libfreetype6 libharfbuzz0b \
  libicu72 libpugixml1v5 libtidy5deb1 libqt6widgets6 python3; do
  [[ ", $depends," == *", $needed "* || ", $depends," == *", $needed,"* ]] || fail "Depends lacks $needed: $depends"
done

dpkg -x "$deb" "$scratch/root"
usr="$scratch/root/usr"
# Nothing may point back into the build tree.
while IFS= read -r -d '' file; do
  if readelf -d "$file" 2>/dev/null | grep -E 'R(UN)?PATH' | grep -v '\$ORIGIN' | grep -q .; then
    fail "$file has a search path outside the package: $(readelf -d "$file" | grep -E 'R(UN)?PATH')"
  fi
done < <(find "$usr/bin" "$usr/lib" -type f -print0)

# The tool, from the scratch root, with no library path set.
[ "$(env -u LD_LIBRARY_PATH "$usr/bin/vellix" --version)" = "$version" ] || fail "vellix --version"
"$make_samples" "$scratch/shelf" >/dev/null
env -u LD_LIBRARY_PATH "$usr/bin/vellix" shelf list "$scratch/shelf" --sorted >"$scratch/list.txt"
grep -q "The Time Machine" "$scratch/list.txt" || fail "vellix shelf list: $(cat "$scratch/list.txt")"

# A document published onto the shelf and its first page drawn by the
# installed tool: the engine finds its fonts and hyphenation patterns where
# the package's dependencies put them.
cp "$source/samples/documents/kitchen-notebook.htm" "$scratch/"
book=$(env -u LD_LIBRARY_PATH -u VELLIX_FONT_DIR "$usr/bin/vellix" shelf add "$scratch/shelf" "$scratch/kitchen-notebook.htm" 2>/dev/null)
[ -f "$book" ] || fail "vellix shelf add wrote no book: $book"
env -u VELLIX_FONT_DIR "$usr/bin/vellix" view "$book" -o "$scratch/page.png" || fail "vellix view"
[ "$(head -c 8 "$scratch/page.png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "vellix view wrote no PNG"
env -u VELLIX_FONT_DIR "$usr/bin/vellix" view "$book" --text | grep -q "Bread" || fail "vellix view --text"

# The Python modules, from the scratch root only.
site="$usr/lib/python3/dist-packages"
[ -d "$site" ] || site=$(dirname "$(find "$usr/lib" -name 'vellix.cpython-*.so' | head -1)")
PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 python3 - "$site" "$scratch/shelf" <<'PY'
import sys, vellix, ikpubx
site, shelf_dir = sys.argv[1], sys.argv[2]
for module in (vellix, ikpubx):
    assert module.__file__.startswith(site), module.__file__
shelf = vellix.Bookshelf()
shelf.Load(shelf_dir)
assert len(shelf.Books) > 0
assert isinstance(ikpubx.create("IKPublisher.Builder"), ikpubx.Builder)
PY

# A program built against the package's CMake files.
cmake -G Ninja -S "$source/tests/package/consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$usr" -Wno-dev \
  >"$scratch/consumer.log" 2>&1 || { cat "$scratch/consumer.log"; fail "configuring against the package"; }
cmake --build "$scratch/consumer" >>"$scratch/consumer.log" 2>&1 || { cat "$scratch/consumer.log"; fail "building against the package"; }
grep -q "$usr/lib" "$scratch/consumer/CMakeCache.txt" || fail "the consumer did not find Vellix in the package"
"$scratch/consumer/consumer" "$scratch/shelf" >"$scratch/consumer.txt"
grep -q "The Time Machine" "$scratch/consumer.txt" && grep -q "builder ready" "$scratch/consumer.txt" \
  || fail "consumer: $(cat "$scratch/consumer.txt")"

# The manual pages, as man shows them: every command and subcommand the
# tool lists has its own section.
subcommands() { "$usr/bin/vellix" "$@" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z0-9-]*\) .*/\1/p'; }
MANWIDTH=200 man -l "$usr/share/man/man1/vellix.1" 2>/dev/null >"$scratch/vellix.man" || fail "man -l vellix.1"
for command in $(subcommands); do
  grep -q "^VELLIX ${command^^}\$" "$scratch/vellix.man" || fail "vellix.1 lacks the command $command"
  for sub in $(subcommands "$command"); do
    grep -q "^   vellix $command $sub\$" "$scratch/vellix.man" || fail "vellix.1 lacks vellix $command $sub"
  done
done
[ -f "$usr/share/man/man1/vellix-publisher.1" ] || fail "no vellix-publisher.1"
desktop="$usr/share/applications/vellix-publisher.desktop"
grep -q '^Exec=vellix-publisher %F$' "$desktop" || fail "desktop entry Exec"
[ -f "$usr/share/icons/hicolor/scalable/apps/$(sed -n 's/^Icon=//p' "$desktop").svg" ] || fail "desktop entry icon"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$desktop"; fi
[ -f "$usr/share/vellix/dtds/default.opf" ] || fail "no package template"
echo "deb_test: $(basename "$deb") unpacked and used from a scratch root"
