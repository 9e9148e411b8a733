// Reading the arguments of a tag that stands in the page just before the reveal position.
// Private to the scenario engine.
#pragma once

#include <string>
#include <string_view>

#include "script/script.h"

// The tag's bytes [start, start + length) of the page, as UTF-8 for messages.
std::string tagTextUtf8(int start, int length);

// Reports a tag that was cut out without effect, once per distinct tag text.
void reportIgnoredTag(int start, int length, std::string_view why);

// First index in [from, end) of the page holding `byte`, or -1.
int findInTag(int from, int end, char byte);

// Page bytes [from, to) as a string_view (empty when the range is empty or outside the page).
std::string_view pageView(int from, int to);
