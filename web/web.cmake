# The WebAssembly build: the engine library over the libraries scripts/web.sh builds into
# build-web/prefix (static, found through their CMake files: they install no pkg-config files,
# and a bare -lSDL2_mixer would make emcc fetch its own port instead).
find_package(SDL2 CONFIG REQUIRED)
find_package(SDL2_ttf CONFIG REQUIRED)
find_package(SDL2_image CONFIG REQUIRED)
find_package(SDL2_mixer CONFIG REQUIRED)

file(GLOB ENGINE_SOURCES CONFIGURE_DEPENDS
    base/*.cpp app/*.cpp render/*.cpp input/*.cpp sound/*.cpp script/*.cpp scenes/*.cpp imagelib/*.cpp)
list(FILTER ENGINE_SOURCES EXCLUDE REGEX "/app/main\\.cpp$")
# Not built for the browser: the font found through fontconfig (which needs a web source of its
# own), and the FluidSynth synthesiser, whose functions sound/midi_web.cpp gives instead, playing
# the pieces rendered when the game was packaged.
list(FILTER ENGINE_SOURCES EXCLUDE REGEX "/(render/text|sound/midi_synth)\\.cpp$")
add_library(tolvane_engine STATIC ${ENGINE_SOURCES})
target_include_directories(tolvane_engine PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tolvane_engine PUBLIC
    SDL2_mixer::SDL2_mixer-static SDL2_ttf::SDL2_ttf-static SDL2_image::SDL2_image-static
    SDL2::SDL2-static)
