#!/usr/bin/env bash
# The browser build: installs the compiler with apt-get, fetches Debian's sources of SDL2 and
# the libraries under it and builds them once into build-web/prefix/ (a library already there is
# reused), builds the engine to WebAssembly in build-web/engine/ and packages the bundled demo as
# a web page in build-web/demo/. --serve then serves that page on 127.0.0.1 (port 8000, or
# WEB_PORT).
set -euo pipefail
serve=0
for arg in "$@"; do
    case $arg in
    --serve) serve=1 ;;
    *) echo "usage: scripts/web.sh [--serve]" >&2; exit 2 ;;
    esac
done
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-web
src=$out/src
prefix=$out/prefix
jobs=${WEB_JOBS:-$(nproc)}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

packages=(emscripten nodejs cmake make pkg-config python3 dpkg-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -q
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The package's compiler cache is frozen and read-only: work on a writable copy of it, seeded
# with the system libraries the package ships so they are not rebuilt.
mkdir -p "$out" "$src" "$prefix"
export EM_CONFIG=$out/emscripten.config
export EM_CACHE=$out/emcache
if [ ! -d "$EM_CACHE/sysroot" ]; then
    echo "Copying the compiler's cache into $EM_CACHE"
    rm -rf "$EM_CACHE.tmp"
    cp -a /usr/share/emscripten/cache "$EM_CACHE.tmp"
    mv "$EM_CACHE.tmp" "$EM_CACHE"
fi
sed -e 's/^FROZEN_CACHE *=.*/FROZEN_CACHE = False/' /usr/share/emscripten/.emscripten >"$EM_CONFIG"
printf "\nCACHE = '%s'\n" "$EM_CACHE" >>"$EM_CONFIG"
# The linker's JavaScript optimiser needs the packaged node modules at -O1 and above.
export NODE_PATH=/usr/share/nodejs

# Debian's sources come from a deb-src line of our own, added only when none is there.
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "Adding Debian's bookworm sources to apt"
    $sudo tee /etc/apt/sources.list.d/tolvane-web-src.sources >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    $sudo apt-get update -q
fi

# Prints the folder holding the unpacked Debian source package $1, fetching it first.
fetch() {
    local pkg=$1 dir
    dir=$(find "$src" -mindepth 1 -maxdepth 1 -type d -name "$pkg-[0-9]*" | head -n 1)
    if [ -z "$dir" ]; then
        (cd "$src" && apt-get source -q "$pkg" >&2)
        dir=$(find "$src" -mindepth 1 -maxdepth 1 -type d -name "$pkg-[0-9]*" | head -n 1)
    fi
    [ -n "$dir" ] || { echo "web.sh: no source folder for $pkg" >&2; exit 1; }
    echo "$dir"
}

# Builds a CMake project from Debian source package $1 into the prefix, with the CMake options
# that follow; skipped when the prefix already holds it built with the same options. Its marker
# holds the options it was built with, so that changing them here rebuilds it from scratch.
build_cmake() {
    local pkg=$1 dir start options
    shift
    options="$*"
    if [ -e "$prefix/.built-$pkg" ] && [ "$(cat "$prefix/.built-$pkg")" = "$options" ]; then
        echo "$pkg: already in the prefix"
        return
    fi
    [ -e "$prefix/.built-$pkg" ] && echo "$pkg: its options changed, building it again"
    rm -f "$prefix/.built-$pkg"
    rm -rf "$out/libs/$pkg"
    dir=$(fetch "$pkg")
    start=$SECONDS
    # emcmake's own emulator line passes node a flag recent versions reject: name node alone.
    emcmake cmake -S "$dir" -B "$out/libs/$pkg" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_FIND_ROOT_PATH="$prefix" -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/node \
        -DBUILD_SHARED_LIBS=OFF "$@"
    echo "$pkg: configured in $((SECONDS - start)) s"
    cmake --build "$out/libs/$pkg" -j"$jobs"
    cmake --install "$out/libs/$pkg"
    echo "$pkg: built in $((SECONDS - start)) s"
    printf '%s' "$options" >"$prefix/.built-$pkg"
}

# zlib's CMake files fail on Debian's source: its own configure script, in a copy of the source.
build_zlib() {
    local dir start
    [ -e "$prefix/.built-zlib" ] && { echo "zlib: already in the prefix"; return; }
    dir=$(fetch zlib)
    start=$SECONDS
    rm -rf "$out/libs/zlib"
    mkdir -p "$out/libs"
    cp -a "$dir" "$out/libs/zlib"
    (cd "$out/libs/zlib" && emconfigure ./configure --static --prefix="$prefix" &&
        emmake make -j"$jobs" libz.a && emmake make install)
    echo "zlib: built in $((SECONDS - start)) s"
    touch "$prefix/.built-zlib"
}

# SDL's blend of a picture with its own transparency is MMX code on the desktop's x86 and plain
# C here, and the two round differently: the patch gives the C code the MMX arithmetic (chosen
# by the flag), so that the page's frames are the desktop's, pixel for pixel.
sdl_source=$(fetch libsdl2)
if ! grep -q TOLVANE_BLEND_AS_MMX "$sdl_source/src/video/SDL_blit_A.c"; then
    patch -d "$sdl_source" -p1 <"$root/web/sdl2-blend-as-desktop.patch"
fi
build_cmake libsdl2 -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF \
    -DCMAKE_C_FLAGS=-DTOLVANE_BLEND_AS_MMX
build_zlib
build_cmake libpng1.6 -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF \
    -DPNG_HARDWARE_OPTIMIZATIONS=OFF
# The engine's font is TrueType: FreeType needs none of its optional libraries, but it takes the
# prefix's zlib, as without it it builds its own copy, whose symbols clash with zlib's at link.
# FreeType flattens curves one way on x86-64 and another elsewhere: the patch lets the web build
# take the desktop's way (chosen by the flag), so that glyphs have the same pixels.
freetype_source=$(fetch freetype)
if ! grep -q TOLVANE_BEZIER_DDA "$freetype_source/src/smooth/ftgrays.c"; then
    patch -d "$freetype_source" -p1 <"$root/web/freetype-curves-as-desktop.patch"
fi
build_cmake freetype -DCMAKE_C_FLAGS=-DTOLVANE_BEZIER_DDA -DFT_REQUIRE_ZLIB=ON -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON \
    -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON
build_cmake libsdl2-ttf -DSDL2TTF_SAMPLES=OFF -DSDL2TTF_VENDORED=OFF -DSDL2TTF_HARFBUZZ=OFF
build_cmake libsdl2-image -DSDL2IMAGE_SAMPLES=OFF -DSDL2IMAGE_VENDORED=OFF \
    -DSDL2IMAGE_DEPS_SHARED=OFF -DSDL2IMAGE_BACKEND_STB=OFF -DSDL2IMAGE_PNG=ON -DSDL2IMAGE_JPG=OFF
# Effects are WAV. The music is MIDI, which the browser plays from Ogg Vorbis renderings made
# when the game is packaged (FluidSynth's source is not to be had): the mixer reads them with
# its built-in stb_vorbis decoder, which needs no other library. The mixer's own Timidity stays
# for a MIDI file played as an effect; every other format is left out.
build_cmake libsdl2-mixer -DSDL2MIXER_SAMPLES=OFF -DSDL2MIXER_VENDORED=OFF \
    -DSDL2MIXER_DEPS_SHARED=OFF -DSDL2MIXER_CMD=OFF -DSDL2MIXER_FLAC=OFF -DSDL2MIXER_MOD=OFF \
    -DSDL2MIXER_MP3=OFF -DSDL2MIXER_OPUS=OFF -DSDL2MIXER_VORBIS=STB -DSDL2MIXER_MIDI=ON \
    -DSDL2MIXER_MIDI_FLUIDSYNTH=OFF -DSDL2MIXER_MIDI_NATIVE=OFF -DSDL2MIXER_MIDI_TIMIDITY=ON \
    -DSDL2MIXER_WAVE=ON
echo "The libraries are in $prefix"

"$root/scripts/deps.sh"
# The engine's code page 932 tables come from the native build (build/, or $NATIVE_BUILD), whose
# generator asks this machine's iconv for them; it is configured first when it is not yet.
native=${NATIVE_BUILD:-$root/build}
if [ ! -e "$native/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_WERROR=ON
fi
# The same build packages the game: its tool cuts the font and renders the music.
cmake --build "$native" -j"$jobs" --target cp932_table tolvane-script demo_game

# The engine itself, over the prefix.
emcmake cmake -S "$root" -B "$out/engine" -DCMAKE_BUILD_TYPE=Release -DTOLVANE_WERROR=ON \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/node \
    -DTOLVANE_CP932_TABLE="$native/generated/cp932_table.inc"
cmake --build "$out/engine" -j"$jobs" --target tolvane

# The bundled demo as a web page.
"$native/tools/tolvane-script" web --runtime "$out/engine" "$native/demo/game" "$out/demo"

if [ "$serve" = 1 ]; then
    port=${WEB_PORT:-8000}
    echo "The demo plays at http://127.0.0.1:$port/ (Ctrl+C stops the server)"
    exec python3 -m http.server --bind 127.0.0.1 --directory "$out/demo" "$port"
fi
