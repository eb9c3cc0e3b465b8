#!/usr/bin/env bash
# package_test.sh <build folder>
#
# Builds the Debian package into a temporary folder and checks its contents, that it depends
# on run-time libraries only, and that lintian finds no error.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" > "$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/kelmora_*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' > "$work/contents"
for f in ./usr/bin/kelmora ./usr/bin/kelmora-cli ./usr/bin/kelmora-sim \
         ./usr/lib/kelmora/plugins/liblumora.so ./usr/include/kelmora/ComponentInterface.h \
         ./usr/share/kelmora/profiles/PDC-4120.xml ./usr/share/applications/org.kelmora.Kelmora.desktop \
         ./usr/share/metainfo/org.kelmora.Kelmora.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/org.kelmora.Kelmora.svg \
         ./usr/share/icons/hicolor/48x48/apps/org.kelmora.Kelmora.png \
         ./usr/lib/udev/rules.d/70-kelmora-ftdi.rules \
         ./usr/share/doc/kelmora/copyright ./usr/share/doc/kelmora/changelog.Debian.gz \
         ./usr/share/man/man1/kelmora.1.gz ./usr/share/man/man1/kelmora-cli.1.gz ./usr/share/man/man1/kelmora-sim.1.gz; do
  grep -qxF "$f" "$work/contents" || fail "the package lacks $f"
done

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libxerces-c3.2 libftdi1; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends does not name $lib"
done
if grep -qE -- '-dev\b' <<< "$depends"; then fail "Depends names a -dev package"; fi

if command -v lintian > /dev/null; then
  lintian --fail-on error --no-tag-display-limit "$deb" || fail "lintian reports errors"
fi
echo "ok: $(basename "$deb")"
