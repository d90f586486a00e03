// What the monitor shows: event lines, the live table, the one-line summary off a terminal and
// the live view's frames, each made from the board as text.
#pragma once

#include "board.h"

#include <tavrin.h>

#include <cstdint>
#include <string>

namespace monitor {

// "session open", or why not ("waiting for the VR runtime: Init_HmdNotFound (108)").
std::string statusText(int32_t status);

// One event as a line of the log; `seconds` is its time since the monitor started.
std::string describeEvent(const tavrin_event& event, double seconds);

// The terminal's table (cursor home, cleared): a title line, the devices by index as many as fit,
// then the latest events. Takes board.mutex.
struct TableView {
    unsigned rate = 120;
    double seconds = 0;   // since the monitor started
    int columns = 80, rows = 24;
    std::string liveUrl;  // shown when the live view is served
};
std::string renderTable(const Board& board, const TableView& view);

// The line printed once a second off a terminal. Takes board.mutex.
std::string summaryLine(const Board& board, double seconds);

// One frame of the live view as JSON: the devices, the frame number and rate, the pacing figures.
// Takes board.mutex.
std::string liveFrame(const Board& board, double seconds, unsigned askedRate);

// A JSON string: quotes, backslashes and control characters escaped.
std::string jsonString(const char* text);

} // namespace monitor
