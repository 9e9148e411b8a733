#include <cstdio>

int main() {
    std::fprintf(stderr, "tolvane: the window and scenes are not built yet.\n");
    return 0;
}
