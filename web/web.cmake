# The WebAssembly build: the engine over the libraries scripts/web.sh builds into
# build-web/prefix (static, found through their CMake files: they install no pkg-config files,
# and a bare -lSDL2_mixer would make emcc fetch its own port instead).
find_package(SDL2 CONFIG REQUIRED)
find_package(SDL2_ttf CONFIG REQUIRED)
find_package(SDL2_image CONFIG REQUIRED)
find_package(SDL2_mixer CONFIG REQUIRED)
# The zlib that web.sh builds under the libraries: a saved moment's checksum is its crc32.
find_package(ZLIB REQUIRED)
# The decoders of an author's recorded sounds, as web.sh builds them: archives and headers alone,
# with no CMake files. Each is named here with the folder its users include from (opusfile's
# header sits beside opus's own, and the engine includes it as <opusfile.h>, the way the
# desktop's pkg-config gives it) and the libraries it needs in turn.
function(tolvane_web_library target library header suffix)
    find_library(TOLVANE_${library}_LIBRARY ${library} REQUIRED)
    find_path(TOLVANE_${library}_INCLUDE_DIR ${header} PATH_SUFFIXES "${suffix}" REQUIRED)
    add_library(${target} STATIC IMPORTED)
    set_target_properties(${target} PROPERTIES
        IMPORTED_LOCATION ${TOLVANE_${library}_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${TOLVANE_${library}_INCLUDE_DIR}
        INTERFACE_LINK_LIBRARIES "${ARGN}")
endfunction()
tolvane_web_library(tolvane_ogg ogg ogg/ogg.h "")
tolvane_web_library(tolvane_vorbis vorbis vorbis/codec.h "" tolvane_ogg)
tolvane_web_library(tolvane_vorbisfile vorbisfile vorbis/vorbisfile.h "" tolvane_vorbis)
tolvane_web_library(tolvane_opus opus opus.h opus)
tolvane_web_library(tolvane_opusfile opusfile opusfile.h opus tolvane_opus tolvane_ogg)
tolvane_web_library(tolvane_flac FLAC FLAC/stream_decoder.h "")
set_target_properties(tolvane_flac PROPERTIES INTERFACE_COMPILE_DEFINITIONS FLAC__NO_DLL)

file(GLOB ENGINE_SOURCES CONFIGURE_DEPENDS
    base/*.cpp app/*.cpp render/*.cpp input/*.cpp sound/*.cpp script/*.cpp player/*.cpp scenes/*.cpp imagelib/*.cpp)
# The page's own entry replaces the desktop's; the music is played from renderings the packager
# made with the desktop's synthesiser, which a browser has no build of.
list(FILTER ENGINE_SOURCES EXCLUDE REGEX "/(app/main(_web)?|sound/midi_synth)\\.cpp$")

# The code page 932 tables come from the native build, whose generator asks the build machine's
# iconv for them (it cannot run here): TOLVANE_CP932_TABLE names that file, as made by the native
# target cp932_table (BUILD/generated/cp932_table.inc). scripts/web.sh passes it.
set(TOLVANE_CP932_TABLE "" CACHE FILEPATH "cp932_table.inc made by a native build")
if(NOT EXISTS "${TOLVANE_CP932_TABLE}")
    message(FATAL_ERROR "TOLVANE_CP932_TABLE must name the cp932_table.inc of a native build "
        "(cmake --build BUILD --target cp932_table), not '${TOLVANE_CP932_TABLE}'")
endif()
# A copy, redone whenever the native file changes, so the engine includes it by one name.
configure_file(${TOLVANE_CP932_TABLE} ${CMAKE_CURRENT_BINARY_DIR}/generated/cp932_table.inc COPYONLY)

add_library(tolvane_engine STATIC ${ENGINE_SOURCES})
target_include_directories(tolvane_engine PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(tolvane_engine PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_link_libraries(tolvane_engine PUBLIC
    SDL2_mixer::SDL2_mixer-static SDL2_ttf::SDL2_ttf-static SDL2_image::SDL2_image-static
    SDL2::SDL2-static)
target_link_libraries(tolvane_engine PRIVATE ZLIB::ZLIB tolvane_vorbisfile tolvane_opusfile tolvane_flac)

# tolvane.js and tolvane.wasm: the page (web/index.html) sets up the module, fills the file
# system and calls main itself, after the player's first click has let the audio start.
add_executable(tolvane app/main_web.cpp)
target_link_libraries(tolvane PRIVATE tolvane_engine)
target_link_options(tolvane PRIVATE
    -sENVIRONMENT=web
    -sINVOKE_RUN=0
    -sEXIT_RUNTIME=0
    -sALLOW_MEMORY_GROWTH=1
    -sFORCE_FILESYSTEM=1
    -lidbfs.js
    "-sEXPORTED_RUNTIME_METHODS=['FS','callMain']"
    # SDL's audio needs these from emscripten's JavaScript library; named in a file, since
    # their '$' does not pass through CMake's link line.
    -sDEFAULT_LIBRARY_FUNCS_TO_INCLUDE=@${CMAKE_CURRENT_SOURCE_DIR}/web/library_functions.json)
add_custom_command(TARGET tolvane POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/web/index.html
        $<TARGET_FILE_DIR:tolvane>/index.html
    VERBATIM)

# Proof that the sound decoders link beside the mixer (whose own Vorbis decoder shares names with
# none of them) and are found by the includes the engine uses; built by web.sh, not shipped.
add_executable(web_decoders_check EXCLUDE_FROM_ALL web/decoders_check.cpp)
target_link_libraries(web_decoders_check PRIVATE tolvane_engine tolvane_vorbisfile
    tolvane_opusfile tolvane_flac)
