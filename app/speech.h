// Where the comforts' text goes out of the program: speech (speech-dispatcher on the desktop,
// the Web Speech API in a browser), the text feed (--text-feed, or the page's live region) and
// the clipboard.
#pragma once

#include <string>

// Registers the outputs with the comforts. Nothing is opened here: speech connects the first
// time something is to be said, the feed the first time a page is told.
void startTextOutputs(const std::string& textFeedPath);
// Once a frame: a feed FIFO that had no reader is tried again now and then.
void keepTextFeed();
// Speech gave up: speech-dispatcher could not be reached (said once on standard error).
bool speechUnavailable();
// Lets go of the feed and of the speech connection.
void stopTextOutputs();
