// The story map, laid out by Graphviz's dot.
#include "tools/story_map.h"

#include <graphviz/gvc.h>

#include <cstdlib>
#include <filesystem>

#if defined(__SANITIZE_ADDRESS__)
// Graphviz keeps its plugin configuration, and the font library its text layout reads the fonts
// with, in memory they never free. The sanitizer build names them as those libraries' leaks, not
// this tool's.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libgvc.so\nleak:libfontconfig.so\n";
}
#endif

namespace {

// Graphviz takes char* where it only reads.
char* c(const char* text) {
    return const_cast<char*>(text);
}

void set(void* object, const char* name, const std::string& value) {
    agsafeset(object, c(name), c(value.c_str()), c(""));
}

// A label as Graphviz reads it: a backslash starts an escape, so it is doubled.
std::string labelText(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        if (ch == '\\') out += '\\';
        out += ch;
    }
    return out;
}

std::string shortName(const std::string& file) {
    return std::filesystem::path(file).filename().string();
}

std::string htmlText(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        switch (ch) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += ch;
        }
    }
    return out;
}

} // namespace

bool renderStoryMap(const ExploreReport& r, std::string* svg, std::string* why) {
    GVC_t* gvc = gvContext();
    if (!gvc) return *why = "Graphviz cannot start", false;
    Agraph_t* g = agopen(c("story"), Agdirected, nullptr);
    agattr(g, AGRAPH, c("rankdir"), c("TB"));
    agattr(g, AGRAPH, c("fontname"), c("IPAGothic"));
    agattr(g, AGNODE, c("shape"), c("box"));
    agattr(g, AGNODE, c("fontname"), c("IPAGothic"));
    agattr(g, AGNODE, c("fontsize"), c("11"));
    agattr(g, AGEDGE, c("fontname"), c("IPAGothic"));
    agattr(g, AGEDGE, c("fontsize"), c("10"));

    std::vector<Agnode_t*> pages;
    for (std::size_t i = 0; i < r.pages.size(); ++i) {
        const ExplorePage& p = r.pages[i];
        Agnode_t* n = agnode(g, c(("p" + std::to_string(i)).c_str()), 1);
        std::string label;
        if (!p.label.empty())
            label += "*" + p.label + (p.checkpoint ? "| (checkpoint)" : "") + "\n";
        label += p.text + "\n" + shortName(p.file) + ":" + std::to_string(p.line);
        set(n, "label", labelText(label));
        if (p.checkpoint) set(n, "peripheries", "2");
        if (!p.reached) {
            set(n, "style", "filled,dashed");
            set(n, "fillcolor", "#e0e0e0");
            set(n, "color", "#a0a0a0");
            set(n, "fontcolor", "#808080");
        } else if (!p.inText) {
            set(n, "color", "red");
        }
        pages.push_back(n);
    }
    std::vector<Agnode_t*> endings;
    for (std::size_t i = 0; i < r.endings.size(); ++i) {
        const ExploreEnding& e = r.endings[i];
        Agnode_t* n = agnode(g, c(("end" + std::to_string(i)).c_str()), 1);
        set(n, "label", labelText("ending\n" + shortName(e.file) + ":" + std::to_string(e.line)));
        set(n, "shape", "doubleoctagon");
        set(n, "style", "filled");
        set(n, "fillcolor", "#fff2cc");
        endings.push_back(n);
    }
    for (const ExploreArrow& a : r.arrows) {
        const bool toEnding = a.step == ExploreStep::Ending;
        const std::size_t to = static_cast<std::size_t>(a.to);
        if (static_cast<std::size_t>(a.from) >= pages.size() ||
            to >= (toEnding ? endings.size() : pages.size()))
            continue;
        Agedge_t* e = agedge(g, pages[static_cast<std::size_t>(a.from)],
                             toEnding ? endings[to] : pages[to], nullptr, 1);
        switch (a.step) {
        case ExploreStep::Next:
            break;
        case ExploreStep::Jump:
            set(e, "style", "dashed");
            set(e, "label", "jump");
            break;
        case ExploreStep::Link:
            set(e, "color", "#1f5fbf");
            set(e, "fontcolor", "#1f5fbf");
            set(e, "label", labelText(a.text));
            break;
        case ExploreStep::Ending:
            set(e, "style", "bold");
            break;
        }
    }

    bool ok = gvLayout(gvc, g, "dot") == 0;
    if (ok) {
        char* data = nullptr;
        unsigned int length = 0;
        ok = gvRenderData(gvc, g, "svg", &data, &length) == 0 && data;
        if (ok) svg->assign(data, length);
        if (data) gvFreeRenderData(data);
        gvFreeLayout(gvc, g);
    }
    if (!ok) *why = "Graphviz cannot lay out or draw the map";
    agclose(g);
    gvFreeContext(gvc);
    return ok;
}

std::string storyMapPage(const ExploreReport& r, const std::string& svg) {
    // The SVG document goes in as it is, from its <svg> element on.
    const std::size_t start = svg.find("<svg");
    const std::string drawing = start == std::string::npos ? svg : svg.substr(start);
    return "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<title>story map</title>\n<style>\n"
           "body { margin: 0; display: flex; height: 100vh; font-family: sans-serif; }\n"
           "#map { flex: 3; overflow: auto; border-right: 1px solid #ccc; }\n"
           "#report { flex: 2; overflow: auto; padding: 0 1em; }\n"
           "pre { white-space: pre-wrap; font-size: 13px; }\n"
           "</style>\n</head>\n<body>\n<div id=\"map\">\n" +
           drawing + "\n</div>\n<div id=\"report\">\n<h2>explore</h2>\n<pre>" +
           htmlText(formatExploreText(r)) + "</pre>\n</div>\n</body>\n</html>\n";
}
