// Draws, composes and synthesises every picture and sound of the demo game into a game folder:
//   make_assets GAME_DIR
// writes GAME_DIR/CG/*.bmp and GAME_DIR/Sound/*.mid, *.wav (the folders must exist).
#include <cstdio>
#include <string>

#include "demo/assets.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_assets GAME_DIR\n");
        return 2;
    }
    const std::string game = argv[1];
    const std::string cg = game + "/CG", sound = game + "/Sound";
    struct Step {
        const char* what;
        bool (*run)(const std::string&);
        const std::string& dir;
    };
    const Step steps[] = {{"backgrounds", makeBackgrounds, cg},
                          {"character pictures", makeFigures, cg},
                          {"interface pictures", makeInterfacePictures, cg},
                          {"music", makeMusic, sound},
                          {"sound effects", makeEffects, sound}};
    for (const Step& s : steps)
        if (!s.run(s.dir)) {
            std::fprintf(stderr, "make_assets: cannot write the %s into %s\n", s.what,
                         s.dir.c_str());
            return 1;
        }
    return 0;
}
