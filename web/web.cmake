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
# Not built for the browser yet: the font found through fontconfig, and the FluidSynth
# synthesiser; each needs a web source of its own.
list(FILTER ENGINE_SOURCES EXCLUDE REGEX "/(render/text|sound/midi_synth)\\.cpp$")

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
