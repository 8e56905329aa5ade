// The line of output that makes an application ready ([Ready] output TEXT):
// the capture process, which sees every line anyway, looks for it and tells
// the manager once through the control channel, so that the manager never
// reads the output file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct ReadyLine {
    std::string name; // the application's display name
    std::string text; // empty: nothing is looked for
};

// The arguments that give a capture process its ready line, appended after
// the others: "--ready-line NAME TEXT"; none without a text.
void AppendReadyLineArguments(const ReadyLine& line, std::vector<std::string>* arguments);

// Takes the ready line's arguments off the end of `count` arguments, when
// they are there, into *line. Returns the number of arguments before them.
int TakeReadyLineArguments(int count, const char* const* arguments, ReadyLine* line);

// Looks for the text in each line of a stream that comes in pieces.
class ReadyLineWatch {
  public:
    explicit ReadyLineWatch(std::string text) : text_(std::move(text)) {}

    // Takes the next piece of output. True the first time a line holds the
    // text (also when it is split across pieces); false ever after.
    bool Feed(const char* data, std::size_t length);

  private:
    std::string text_;
    std::string tail_; // the end of the current line, as much as a match can span
    bool found_ = false;
};

// Tells the manager of this user that the application's line came (a
// "ready NAME" request). False when no manager answered.
bool TellManagerReady(const std::string& name);
