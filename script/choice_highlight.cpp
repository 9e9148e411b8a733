// The highlight behind the hovered choice link; kept apart so that the engine's logic links
// without the renderer.
#include "render/render.h"
#include "script/script.h"

void drawChoiceHighlight() {
    for (const LinkEntry& link : g_links) {
        if (link.active && link.hovered) {
            drawQuad(g_choiceTex, link.quad);
            return;
        }
    }
}
