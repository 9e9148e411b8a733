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

# What runs a program built here, as CMake's checks of type sizes do. emcmake's own line passes
# node a flag recent versions reject; and this compiler's programs fetch their WebAssembly with
# fetch() wherever there is one, which node's cannot do for a file.
emulator="/usr/bin/node;--no-experimental-fetch"

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
# With $targets set, only those targets are built, and the function named in $install (given
# the source and build folders) puts what they made into the prefix: for a project that builds
# programs or more libraries than the engine needs, with no option to leave them out.
build_cmake() {
    local pkg=$1 dir start options
    shift
    options="$*${targets:+ targets: $targets}"
    if [ -e "$prefix/.built-$pkg" ] && [ "$(cat "$prefix/.built-$pkg")" = "$options" ]; then
        echo "$pkg: already in the prefix"
        return
    fi
    [ -e "$prefix/.built-$pkg" ] && echo "$pkg: its options changed, building it again"
    rm -f "$prefix/.built-$pkg"
    rm -rf "$out/libs/$pkg"
    dir=$(fetch "$pkg")
    start=$SECONDS
    emcmake cmake -S "$dir" -B "$out/libs/$pkg" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_FIND_ROOT_PATH="$prefix" -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" \
        -DBUILD_SHARED_LIBS=OFF "$@"
    echo "$pkg: configured in $((SECONDS - start)) s"
    if [ -n "${targets:-}" ]; then
        # shellcheck disable=SC2086 # a list of targets
        cmake --build "$out/libs/$pkg" -j"$jobs" --target $targets
        "$install" "$dir" "$out/libs/$pkg"
    else
        cmake --build "$out/libs/$pkg" -j"$jobs"
        cmake --install "$out/libs/$pkg"
    fi
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

# opusfile's build is autotools only, and its four sources need nothing from it: compiled here,
# without the network streams (http.c), its header beside opus's own as the desktop has it.
build_opusfile() {
    local dir start obj f
    [ -e "$prefix/.built-opusfile" ] && { echo "opusfile: already in the prefix"; return; }
    dir=$(fetch opusfile)
    start=$SECONDS
    obj=$out/libs/opusfile
    rm -rf "$obj"
    mkdir -p "$obj" "$prefix/include/opus" "$prefix/lib"
    for f in info internal opusfile stream; do
        emcc -O2 -DOP_DISABLE_HTTP -I"$dir/include" -I"$prefix/include" -I"$prefix/include/opus" \
            -c "$dir/src/$f.c" -o "$obj/$f.o"
    done
    rm -f "$prefix/lib/libopusfile.a"
    emar rcs "$prefix/lib/libopusfile.a" "$obj"/*.o
    cp "$dir/include/opusfile.h" "$prefix/include/opus/opusfile.h"
    echo "opusfile: built in $((SECONDS - start)) s"
    touch "$prefix/.built-opusfile"
}

# libjpeg-turbo's library alone, without its programs, and the headers a user of it includes.
install_jpeg() {
    mkdir -p "$prefix/lib" "$prefix/include"
    cp "$2/libjpeg.a" "$prefix/lib/"
    cp "$1/jpeglib.h" "$1/jerror.h" "$1/jmorecfg.h" "$2/jconfig.h" "$prefix/include/"
}

# libwebp's decoder alone (SDL_image saves no WebP), under the name SDL_image looks for.
install_webp() {
    mkdir -p "$prefix/lib" "$prefix/include/webp"
    cp "$2/libwebpdecoder.a" "$prefix/lib/libwebp.a"
    cp "$1/src/webp/decode.h" "$1/src/webp/types.h" "$prefix/include/webp/"
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
# An author's picture may be a PNG, WebP or JPEG: decoded by the libraries the desktop's SDL_image
# uses, not by its stb backend, whose JPEG pixels differ. Their SIMD code is x86 assembly or
# intrinsics the compiler has no target for; their plain C gives the same pixels.
targets=jpeg-static install=install_jpeg build_cmake libjpeg-turbo -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF \
    -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF -DWITH_ARITH_ENC=OFF
targets=webpdecoder install=install_webp build_cmake libwebp -DWEBP_ENABLE_SIMD=OFF -DWEBP_USE_THREAD=OFF -DWEBP_BUILD_ANIM_UTILS=OFF \
    -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF \
    -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF \
    -DWEBP_BUILD_LIBWEBPMUX=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF
build_cmake libsdl2-image -DSDL2IMAGE_SAMPLES=OFF -DSDL2IMAGE_VENDORED=OFF \
    -DSDL2IMAGE_DEPS_SHARED=OFF -DSDL2IMAGE_BACKEND_STB=OFF -DSDL2IMAGE_PNG=ON -DSDL2IMAGE_JPG=ON \
    -DSDL2IMAGE_WEBP=ON
# Effects are WAV. The music is MIDI, which the browser plays from Ogg Vorbis renderings made
# when the game is packaged (FluidSynth's source is not to be had): the mixer reads them with
# its built-in stb_vorbis decoder, which needs no other library. The mixer's own Timidity stays
# for a MIDI file played as an effect; every other format is left out.
build_cmake libsdl2-mixer -DSDL2MIXER_SAMPLES=OFF -DSDL2MIXER_VENDORED=OFF \
    -DSDL2MIXER_DEPS_SHARED=OFF -DSDL2MIXER_CMD=OFF -DSDL2MIXER_FLAC=OFF -DSDL2MIXER_MOD=OFF \
    -DSDL2MIXER_MP3=OFF -DSDL2MIXER_OPUS=OFF -DSDL2MIXER_VORBIS=STB -DSDL2MIXER_MIDI=ON \
    -DSDL2MIXER_MIDI_FLUIDSYNTH=OFF -DSDL2MIXER_MIDI_NATIVE=OFF -DSDL2MIXER_MIDI_TIMIDITY=ON \
    -DSDL2MIXER_WAVE=ON
# An author's recorded music and effects (Ogg Vorbis, Ogg Opus, FLAC) are decoded by the engine
# itself, with the desktop's decoders: the libraries alone, none of their programs or tests.
build_cmake libogg -DBUILD_TESTING=OFF -DINSTALL_DOCS=OFF
build_cmake libvorbis -DBUILD_TESTING=OFF
# opus's release leaves out a file its CMake project includes, which only picks a default build
# type: an empty one does.
opus_source=$(fetch opus)
[ -e "$opus_source/opus_buildtype.cmake" ] || : >"$opus_source/opus_buildtype.cmake"
build_cmake opus -DOPUS_BUILD_PROGRAMS=OFF -DBUILD_TESTING=OFF -DOPUS_STACK_PROTECTOR=OFF \
    -DOPUS_INSTALL_PKG_CONFIG_MODULE=OFF
build_opusfile
build_cmake flac -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF \
    -DBUILD_TESTING=OFF -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF -DWITH_OGG=OFF \
    -DWITH_STACK_PROTECTOR=OFF -DWITH_FORTIFY_SOURCE=OFF
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
    -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" \
    -DTOLVANE_CP932_TABLE="$native/generated/cp932_table.inc"
cmake --build "$out/engine" -j"$jobs" --target tolvane web_decoders_check
/usr/bin/node --no-experimental-fetch "$out/engine/web_decoders_check.js"

# The bundled demo as a web page.
"$native/tools/tolvane-script" web --runtime "$out/engine" "$native/demo/game" "$out/demo"

if [ "$serve" = 1 ]; then
    port=${WEB_PORT:-8000}
    echo "The demo plays at http://127.0.0.1:$port/ (Ctrl+C stops the server)"
    exec python3 -m http.server --bind 127.0.0.1 --directory "$out/demo" "$port"
fi
