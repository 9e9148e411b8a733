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
    emcmake cmake -S "$dir" -B "$out/libs/$pkg" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_FIND_ROOT_PATH="$prefix" -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" \
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

# A library built straight from its sources with emcc, not with its own build system: their
# configure steps run each check as a program under node and cost more than the compiling, and
# each project builds far more than a decoder. The function build_direct_$1 says what to build,
# with $dir (the source) and $obj (a folder of its own) set; the marker holds a checksum of that
# function, so that changing it rebuilds the library.
build_direct() {
    local pkg=$1 recipe start
    recipe=$(declare -f "build_direct_${pkg//-/_}" | md5sum | cut -d' ' -f1)
    if [ -e "$prefix/.built-$pkg" ] && [ "$(cat "$prefix/.built-$pkg")" = "$recipe" ]; then
        echo "$pkg: already in the prefix"
        return
    fi
    rm -f "$prefix/.built-$pkg"
    dir=$(fetch "$pkg")
    obj=$out/libs/$pkg
    start=$SECONDS
    rm -rf "$obj"
    mkdir -p "$obj" "$prefix/include" "$prefix/lib"
    "build_direct_${pkg//-/_}"
    echo "$pkg: built in $((SECONDS - start)) s"
    printf '%s' "$recipe" >"$prefix/.built-$pkg"
}

# Compiles the sources named after "--" (paths in $dir) with the flags before it, $jobs at a
# time, into $prefix/lib/lib$1.a.
archive() {
    local lib=$1 flags=()
    shift
    while [ "$1" != "--" ]; do
        flags+=("$1")
        shift
    done
    shift
    mkdir -p "$obj/$lib"
    # shellcheck disable=SC2016 # expanded by the inner shell
    printf '%s\n' "$@" | SRC=$dir OUT=$obj/$lib xargs -d '\n' -P"$jobs" -I{} bash -c \
        'f=$1; shift; emcc "$@" -c "$SRC/$f" -o "$OUT/${f//\//_}.o"' _ {} "${flags[@]}"
    rm -f "$prefix/lib/lib$lib.a"
    emar rcs "$prefix/lib/lib$lib.a" "$obj/$lib"/*.o
}

# Writes header $2 from the CMake template $1, as configure_file does: the NAME=VALUE pairs that
# follow fill @NAME@ and turn "#cmakedefine NAME" on; every other #cmakedefine is left undefined.
configure_header() {
    local in=$1 header=$2 pair args=()
    shift 2
    for pair in "$@"; do
        args+=(-e "s|@${pair%%=*}@|${pair#*=}|g" -e "s|^#cmakedefine ${pair%%=*}\\b|#define ${pair%%=*}|")
    done
    mkdir -p "$(dirname "$header")"
    sed "${args[@]}" -e 's|^#cmakedefine \([A-Za-z0-9_]*\).*|/* #undef \1 */|' "$in" >"$header"
}

# The version of the source in $dir, from its folder's name (as Debian unpacks it).
version() {
    local v=${dir##*-}
    echo "${v%%+*}"
}

# libjpeg-turbo's library without its programs, and of its encoder what SDL_image's saving of a
# JPEG reaches (it looks every function up when it starts, saving or not). Its SIMD code is left
# out: it is x86 assembly or intrinsics this compiler has no target for, and its plain C gives the
# same pixels.
build_direct_libjpeg_turbo() {
    local v n
    v=$(version)
    IFS=. read -r -a n <<<"$v"
    configure_header "$dir/jconfig.h.in" "$prefix/include/jconfig.h" JPEG_LIB_VERSION=62 \
        VERSION="$v" LIBJPEG_TURBO_VERSION_NUMBER="$(printf '%d%03d%03d' "${n[@]}")" \
        D_ARITH_CODING_SUPPORTED=1 MEM_SRCDST_SUPPORTED=1 BITS_IN_JSAMPLE=8
    configure_header "$dir/jconfigint.h.in" "$obj/jconfigint.h" BUILD="$v" \
        INLINE='__inline__ __attribute__((always_inline))' THREAD_LOCAL= \
        CMAKE_PROJECT_NAME=libjpeg-turbo VERSION="$v" SIZE_T=4 HAVE_BUILTIN_CTZL=
    configure_header "$dir/jversion.h.in" "$obj/jversion.h" COPYRIGHT_YEAR=1991-2023
    cp "$dir/jpeglib.h" "$dir/jerror.h" "$dir/jmorecfg.h" "$prefix/include/"
    local c=(jaricom jcapimin jcapistd jccoefct jccolor jcdctmgr jchuff jcinit jcmainct jcmarker
        jcmaster jcomapi jcparam jcphuff jcprepct jcsample jdapimin jdapistd jdarith jdatasrc
        jdcoefct jdcolor jddctmgr jdhuff jdicc jdinput jdmainct jdmarker jdmaster jdmerge jdphuff
        jdpostct jdsample jdtrans jerror jfdctflt jfdctfst jfdctint jidctflt jidctfst jidctint
        jidctred jmemmgr jmemnobs jquant1 jquant2 jsimd_none jutils)
    archive jpeg -O3 -DNDEBUG -I"$obj" -I"$prefix/include" -I"$dir" -- "${c[@]/%/.c}"
}

# libwebp's decoder (SDL_image saves no WebP), in its plain C: its SIMD code is for targets this
# compiler has not.
build_direct_libwebp() {
    mkdir -p "$prefix/include/webp"
    cp "$dir/src/webp/decode.h" "$dir/src/webp/types.h" "$prefix/include/webp/"
    local c=(dec/alpha_dec dec/buffer_dec dec/frame_dec dec/idec_dec dec/io_dec dec/quant_dec
        dec/tree_dec dec/vp8_dec dec/vp8l_dec dec/webp_dec dsp/alpha_processing dsp/cpu dsp/dec
        dsp/dec_clip_tables dsp/filters dsp/lossless dsp/rescaler dsp/upsampling dsp/yuv
        utils/bit_reader_utils utils/color_cache_utils utils/filters_utils utils/huffman_utils
        utils/quant_levels_dec_utils utils/random_utils utils/rescaler_utils utils/thread_utils
        utils/utils)
    c=("${c[@]/#/src/}")
    archive webp -O3 -DNDEBUG -fvisibility=hidden -I"$dir" -- "${c[@]/%/.c}"
}

build_direct_libogg() {
    configure_header "$dir/include/ogg/config_types.h.in" "$prefix/include/ogg/config_types.h" \
        INCLUDE_INTTYPES_H=1 INCLUDE_STDINT_H=1 INCLUDE_SYS_TYPES_H=1 SIZE16=int16_t \
        USIZE16=uint16_t SIZE32=int32_t USIZE32=uint32_t SIZE64=int64_t USIZE64=uint64_t
    cp "$dir/include/ogg/ogg.h" "$dir/include/ogg/os_types.h" "$prefix/include/ogg/"
    archive ogg -O3 -DNDEBUG -I"$prefix/include" -- src/bitwise.c src/framing.c
}

# libvorbis and vorbisfile, not the encoder's tables (vorbisenc): the desktop renders the music
# with those, never the page. The decoder's sources reach the analysis code at link, so all of the
# library's are built.
build_direct_libvorbis() {
    mkdir -p "$prefix/include/vorbis"
    cp "$dir/include/vorbis/codec.h" "$dir/include/vorbis/vorbisfile.h" "$prefix/include/vorbis/"
    local c=(analysis bitrate block codebook envelope floor0 floor1 info lookup lpc lsp mapping0
        mdct psy registry res0 sharedbook smallft synthesis window)
    c=("${c[@]/#/lib/}")
    archive vorbis -O3 -DNDEBUG -I"$dir/lib" -I"$prefix/include" -- "${c[@]/%/.c}"
    archive vorbisfile -O3 -DNDEBUG -I"$prefix/include" -- lib/vorbisfile.c
}

# opus's decoders, single and multistream, in its float build; none of its encoders.
build_direct_opus() {
    mkdir -p "$prefix/include/opus"
    cp "$dir"/include/opus*.h "$prefix/include/opus/"
    printf '#define PACKAGE_VERSION "%s"\n' "$(version)" >"$obj/config.h"
    local celt=(bands celt celt_decoder celt_lpc cwrs entcode entdec entenc kiss_fft laplace
        mathops mdct modes pitch quant_bands rate vq)
    local silk=(bwexpander bwexpander_32 CNG code_signs dec_API decode_core decode_frame
        decode_indices decode_parameters decode_pitch decode_pulses decoder_set_fs gain_quant
        init_decoder inner_prod_aligned interpolate lin2log log2lin LPC_analysis_filter LPC_fit
        LPC_inv_pred_gain LP_variable_cutoff NLSF2A NLSF_decode NLSF_stabilize NLSF_unpack
        pitch_est_tables PLC resampler resampler_down2 resampler_down2_3 resampler_private_AR2
        resampler_private_IIR_FIR resampler_private_down_FIR resampler_private_up2_HQ
        resampler_rom shell_coder sigm_Q15 sort stereo_decode_pred stereo_MS_to_LR sum_sqr_shift
        table_LSF_cos tables_gain tables_LTP tables_NLSF_CB_NB_MB tables_NLSF_CB_WB tables_other
        tables_pitch_lag tables_pulses_per_block)
    local opus=(opus opus_decoder opus_multistream opus_multistream_decoder)
    local c=("${celt[@]/#/celt/}" "${silk[@]/#/silk/}" "${opus[@]/#/src/}")
    archive opus -O3 -DNDEBUG -DOPUS_BUILD -DVAR_ARRAYS -DENABLE_HARDENING -DHAVE_CONFIG_H \
        -I"$obj" -I"$dir/include" -I"$dir" -I"$dir/celt" -I"$dir/silk" -I"$dir/silk/float" -- \
        "${c[@]/%/.c}"
}

# opusfile without the network streams (http.c), its header beside opus's own as the desktop has
# it.
build_direct_opusfile() {
    cp "$dir/include/opusfile.h" "$prefix/include/opus/opusfile.h"
    archive opusfile -O2 -DOP_DISABLE_HTTP -I"$dir/include" -I"$prefix/include" \
        -I"$prefix/include/opus" -- src/info.c src/internal.c src/opusfile.c src/stream.c
}

# libFLAC's stream decoder and what it needs: no encoder, no editing of metadata, no Ogg FLAC.
build_direct_flac() {
    mkdir -p "$prefix/include/FLAC"
    cp "$dir"/include/FLAC/*.h "$prefix/include/FLAC/"
    cat >"$obj/config.h" <<EOF
#define CPU_IS_BIG_ENDIAN 0
#define WORDS_BIGENDIAN 0
#define ENABLE_64_BIT_WORDS 0
#define FLAC__HAS_OGG 0
#define FLAC__HAS_X86INTRIN 0
#define FLAC__HAS_NEONINTRIN 0
#define FLAC__HAS_A64NEONINTRIN 0
#define HAVE_BSWAP16
#define HAVE_BSWAP32
#define HAVE_BYTESWAP_H
#define HAVE_FSEEKO
#define HAVE_INTTYPES_H
#define HAVE_LROUND 1
#define HAVE_STDINT_H
#define HAVE_STRING_H
#define HAVE_SYS_PARAM_H
#define PACKAGE_VERSION "$(version)"
#define _GNU_SOURCE
#define _FILE_OFFSET_BITS 64
#define _LARGEFILE_SOURCE
EOF
    local c=(bitmath bitreader cpu crc fixed format lpc md5 memory stream_decoder)
    c=("${c[@]/#/src/libFLAC/}")
    archive FLAC -O3 -DNDEBUG -DFLAC__NO_DLL -DHAVE_CONFIG_H -fassociative-math -fno-signed-zeros \
        -fno-trapping-math -freciprocal-math -I"$obj" -I"$dir/include" \
        -I"$dir/src/libFLAC/include" -- "${c[@]/%/.c}"
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
# uses, not by its stb backend, whose JPEG pixels differ.
build_direct libjpeg-turbo
build_direct libwebp
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
build_direct libogg
build_direct libvorbis
build_direct opus
build_direct opusfile
build_direct flac
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
