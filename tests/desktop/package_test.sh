#!/usr/bin/env bash
# Builds the Debian package with cpack in the build folder and checks it as a distribution would:
# the files a desktop needs are in it, its dependencies are computed, lintian finds no error and
# the AppStream metadata validates.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
cd "$build"
rm -f tolvane_*.deb
cpack -G DEB >cpack.log 2>&1 || {
    cat cpack.log
    echo "FAIL: cpack -G DEB"
    exit 1
}
deb=$(ls tolvane_*.deb)
echo "package: $deb"

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
for wanted in \
    ./usr/games/tolvane \
    ./usr/bin/tolvane-script \
    ./usr/share/applications/org.tolvane.Tolvane.desktop \
    ./usr/share/metainfo/org.tolvane.Tolvane.metainfo.xml \
    ./usr/share/icons/hicolor/48x48/apps/tolvane.png \
    ./usr/share/icons/hicolor/256x256/apps/tolvane.png \
    ./usr/share/man/man6/tolvane.6.gz \
    ./usr/share/man/man1/tolvane-script.1.gz \
    ./usr/share/doc/tolvane/copyright \
    ./usr/share/doc/tolvane/changelog.gz \
    ./usr/share/games/tolvane/Scenario/scenario0.qv_ \
    ./usr/share/games/tolvane/Scenario/end1.qv_ \
    ./usr/share/games/tolvane/CG/title.bmp \
    ./usr/share/games/tolvane/Sound/start52.wav; do
    grep -qxF "$wanted" <<<"$listing" || fail "$wanted is not in the package"
done
grep -q 'Data.sav' <<<"$listing" && fail "a checkpoint was packed"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for wanted in libsdl2-2.0-0 libsdl2-mixer-2.0-0 fonts-ipafont-gothic timgm6mb-soundfont; do
    grep -q "$wanted" <<<"$depends" || fail "the package does not depend on $wanted"
done

# lintian exits non-zero on errors only; its warnings are shown.
lintian --tag-display-limit 0 "$deb" >lintian.log 2>&1 || fail "lintian reports errors"
grep -v 'running with root privileges' lintian.log || true

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"
appstreamcli validate --no-net "$scratch"/usr/share/metainfo/*.xml || fail "appstreamcli validate"
if ! grep -qx 'Categories=Game;AdventureGame;' "$scratch"/usr/share/applications/*.desktop; then
    fail "the menu entry is not in Game;AdventureGame;"
fi
for page in man6/tolvane.6.gz man1/tolvane-script.1.gz; do
    warnings=$(zcat "$scratch/usr/share/man/$page" | groff -man -Tutf8 -ww -z 2>&1) ||
        fail "groff cannot lay out $page"
    [ -z "$warnings" ] || fail "$page: $warnings"
done

if ((failed)); then
    echo "package: 0 passed, 1 failed"
    exit 1
fi
echo "package: 1 passed, 0 failed"
