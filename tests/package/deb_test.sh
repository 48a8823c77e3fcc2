#!/usr/bin/env bash
# The Debian packages built from the build folder, unpacked into scratch
# roots (never installed), and used from there as their users would: each
# root holds one package with what it depends on of ours, so a file in the
# wrong package shows. Then Debian's own checker, lintian, when installed.
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
libs=libvellix${version%%.*}
(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack failed"; }
declare -A deb
for package in vellix-publisher "$libs" libvellix-dev python3-vellix; do
  deb[$package]="$scratch/out/${package}_${version}_${arch}.deb"
  [ -f "${deb[$package]}" ] || fail "no $(basename "${deb[$package]}") in: $(ls "$scratch/out")"
done

# Relations: ours exact to the version; the libraries found in the binaries
# and the data the engine opens at run time.
relation_has() {  # PACKAGE FIELD WANTED...: each WANTED is one of FIELD's alternatives
  local value
  value=", $(dpkg-deb -f "${deb[$1]}" "$2" | sed 's/ | /, /g'),"
  local field=$2 package=$1
  shift 2
  for wanted in "$@"; do
    [[ "$value" == *", $wanted,"* || "$value" == *", $wanted ("* ]] || fail "$package $field lacks $wanted:$value"
  done
}
for package in vellix-publisher libvellix-dev python3-vellix; do
  relation_has "$package" Depends "$libs (= $version)"
done
relation_has vellix-publisher Depends libqt6widgets6
relation_has python3-vellix Depends python3
relation_has libvellix-dev Depends libpugixml-dev
relation_has "$libs" Depends fonts-dejavu-core fonts-dejavu-extra hyphen-en-us libhyphen0 libfreetype6 \
  libharfbuzz0b libicu72 libpugixml1v5 libtidy5deb1
relation_has "$libs" Recommends hyphen-de hyphen-fr fonts-noto-cjk fonts-droid-fallback

# Every shared library the build made is in the libraries' package, in its
# shlibs file, and has its development link in the -dev package only.
contents() { dpkg-deb -c "${deb[$1]}" | awk '{print $6}' | sed 's|^\./||'; }
dpkg-deb -e "${deb[$libs]}" "$scratch/control"
[ ! -e "$scratch/control/postinst" ] && [ ! -e "$scratch/control/postrm" ] || fail "$libs has maintainer scripts"
grep -qx 'activate-noawait ldconfig' "$scratch/control/triggers" || fail "$libs has no ldconfig trigger"
for library in "$build"/lib/lib*.so."$version"; do
  name=$(basename "$library" ".so.$version")
  contents "$libs" | grep -qx "usr/lib/$name.so.$version" || fail "$libs lacks $name"
  grep -qx "$name ${version%%.*} $libs (= $version)" "$scratch/control/shlibs" || fail "shlibs lacks $name"
  contents libvellix-dev | grep -qx "usr/lib/$name.so" || fail "libvellix-dev lacks the link $name.so"
done
if contents "$libs" | grep -E '\.so$|^usr/include/'; then fail "$libs holds development files"; fi

# Each package's copyright and changelog; the changelog names this version.
for package in "${!deb[@]}"; do
  for file in copyright changelog.gz; do
    contents "$package" | grep -qx "usr/share/doc/$package/$file" || fail "$package lacks $file"
  done
done
dpkg -x "${deb[$libs]}" "$scratch/libs"
zcat "$scratch/libs/usr/share/doc/$libs/changelog.gz" >"$scratch/changelog"
changelog_version=$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)
[ "$changelog_version" = "$version" ] || fail "the changelog's latest entry is $changelog_version, the packages $version"

unpack() {  # ROOT PACKAGE...: the libraries' package and the named ones
  local root=$1
  shift
  for package in "$libs" "$@"; do dpkg -x "${deb[$package]}" "$root"; done
}
unpack "$scratch/app" vellix-publisher
unpack "$scratch/python" python3-vellix
unpack "$scratch/dev" libvellix-dev

# Nothing may point back into the build tree.
while IFS= read -r -d '' file; do
  if readelf -d "$file" 2>/dev/null | grep -E 'R(UN)?PATH' | grep -v '\$ORIGIN' | grep -q .; then
    fail "$file has a search path outside the package: $(readelf -d "$file" | grep -E 'R(UN)?PATH')"
  fi
done < <(find "$scratch/app/usr/bin" "$scratch/python/usr/lib" -type f -print0)

# The tool and the program, from the scratch root, with no library path
# set; the program answers --version with no display.
usr="$scratch/app/usr"
[ "$(env -u LD_LIBRARY_PATH "$usr/bin/vellix" --version)" = "$version" ] || fail "vellix --version"
program_version=$(env -u LD_LIBRARY_PATH -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/vellix-publisher" --version)
[ "$program_version" = "vellix-publisher $version" ] || fail "vellix-publisher --version: $program_version"
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

# The Python modules with the system's interpreter, from their root only.
site="$scratch/python/usr/lib/python3/dist-packages"
[ -d "$site" ] || site=$(dirname "$(find "$scratch/python/usr/lib" -name 'vellix.cpython-*.so' | head -1)")
env -u LD_LIBRARY_PATH PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 - "$site" "$scratch/shelf" <<'PY'
import sys, vellix, ikpubx
site, shelf_dir = sys.argv[1], sys.argv[2]
for module in (vellix, ikpubx):
    assert module.__file__.startswith(site), module.__file__
shelf = vellix.Bookshelf()
shelf.Load(shelf_dir)
assert len(shelf.Books) > 0
assert isinstance(ikpubx.create("IKPublisher.Builder"), ikpubx.Builder)
PY

# A program built against the -dev package (and the libraries it depends
# on) alone.
dev="$scratch/dev/usr"
cmake -G Ninja -S "$source/tests/package/consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$dev" -Wno-dev \
  >"$scratch/consumer.log" 2>&1 || { cat "$scratch/consumer.log"; fail "configuring against libvellix-dev"; }
cmake --build "$scratch/consumer" >>"$scratch/consumer.log" 2>&1 || { cat "$scratch/consumer.log"; fail "building against libvellix-dev"; }
grep -q "$dev/lib" "$scratch/consumer/CMakeCache.txt" || fail "the consumer did not find Vellix in libvellix-dev"
env -u LD_LIBRARY_PATH "$scratch/consumer/consumer" "$scratch/shelf" >"$scratch/consumer.txt"
grep -q "The Time Machine" "$scratch/consumer.txt" && grep -q "builder ready" "$scratch/consumer.txt" \
  || fail "consumer: $(cat "$scratch/consumer.txt")"

# The manual pages, compressed, as man shows them: every command and
# subcommand the tool lists has its own section.
subcommands() { "$usr/bin/vellix" "$@" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z0-9-]*\) .*/\1/p'; }
MANWIDTH=200 man -l "$usr/share/man/man1/vellix.1.gz" 2>/dev/null >"$scratch/vellix.man" || fail "man -l vellix.1.gz"
for command in $(subcommands); do
  grep -q "^VELLIX ${command^^}\$" "$scratch/vellix.man" || fail "vellix.1 lacks the command $command"
  for sub in $(subcommands "$command"); do
    grep -q "^   vellix $command $sub\$" "$scratch/vellix.man" || fail "vellix.1 lacks vellix $command $sub"
  done
done
# What a command's help says below its options is on the page too.
tr -s ' \n' ' ' <"$scratch/vellix.man" | grep -q "the pages it links to that exist, one level deep" ||
  fail "vellix.1 does not say what shelf add brings with a document"
[ -f "$usr/share/man/man1/vellix-publisher.1.gz" ] || fail "no vellix-publisher.1.gz"

# The desktop entry and the file types it names.
desktop="$usr/share/applications/vellix-publisher.desktop"
grep -q '^Exec=vellix-publisher %F$' "$desktop" || fail "desktop entry Exec"
[ -f "$usr/share/icons/hicolor/scalable/apps/$(sed -n 's/^Icon=//p' "$desktop").svg" ] || fail "desktop entry icon"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$desktop"; fi
mime_types=$(sed -n 's/^MimeType=//p' "$desktop")
for type in application/x-vellix-book application/x-oebff-container application/oebps-package+xml \
  application/epub+zip text/markdown; do
  [[ ";$mime_types" == *";$type;"* ]] || fail "the desktop entry does not open $type"
done
if command -v update-mime-database >/dev/null; then
  cp -r "$usr/share/mime" "$scratch/mime"
  update-mime-database "$scratch/mime" >/dev/null 2>&1
  for pair in '*.imp application/x-vellix-book' '*.oeb application/x-oebff-container' \
    '*.opf application/oebps-package+xml'; do
    awk -F: -v glob="${pair% *}" -v type="${pair#* }" '$2 == type && $3 == glob { found = 1 } END { exit !found }' \
      "$scratch/mime/globs2" || fail "no file type for ${pair% *}"
  done
fi
[ -f "$scratch/libs/usr/share/vellix/dtds/default.opf" ] || fail "no package template"

# Debian's checker: no error and no warning; informational tags are shown.
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning --display-info --tag-display-limit 0 "${deb[@]}" >"$scratch/lintian.txt" 2>&1 \
    || { cat "$scratch/lintian.txt"; fail "lintian found errors or warnings"; }
  sed 's/^/lintian: /' "$scratch/lintian.txt"
else
  echo "deb_test: lintian is not installed; the packages were not checked by it"
fi
echo "deb_test: ${#deb[@]} packages unpacked and used from scratch roots"
