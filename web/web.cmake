# The WebAssembly build: the engine over the libraries scripts/web.sh builds into
# build-web/prefix (static, found through their CMake files: they install no pkg-config files,
# and a bare -lSDL2_mixer would make emcc fetch its own port instead).
find_package(SDL2 CONFIG REQUIRED)
find_package(SDL2_ttf CONFIG REQUIRED)
find_package(SDL2_image CONFIG REQUIRED)
find_package(SDL2_mixer CONFIG REQUIRED)

file(GLOB ENGINE_SOURCES CONFIGURE_DEPENDS
    base/*.cpp app/*.cpp render/*.cpp input/*.cpp sound/*.cpp script/*.cpp scenes/*.cpp imagelib/*.cpp)
# The page's own entry replaces the desktop's; the music is played from renderings the packager
# made with the desktop's synthesiser, which a browser has no build of.
list(FILTER ENGINE_SOURCES EXCLUDE REGEX "/(app/main(_web)?|sound/midi_synth)\\.cpp$")
add_library(tolvane_engine STATIC ${ENGINE_SOURCES})
target_include_directories(tolvane_engine PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tolvane_engine PUBLIC
    SDL2_mixer::SDL2_mixer-static SDL2_ttf::SDL2_ttf-static SDL2_image::SDL2_image-static
    SDL2::SDL2-static)

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
