#include <cstdio>

#include "command.h"

namespace vdr {

// One row per command: name, usage after the name, one-sentence help, flags, handler.
const Command kCommands[] = {
    {"ls", "PATH", "one line per recording: time, kind, trigger, frames, rate, metadata", {}, runLs},
    {"check", "[--decode] PATH",
     "verifies every pair against the file formats and names what is wrong; --decode also decodes every frame",
     {"--decode"}, runCheck},
    {"export", "PATH FORMAT TARGET", "writes the recordings in another format (see FORMAT below)", {}, runExport},
    {"report", "PATH [-o DIR]",
     "a page to look at (DIR/index.html, default ./vdrtool-report): the recordings, a frame player, G values, "
     "tracks, and recorder-sim's run when PATH is in a board directory",
     {}, runReport},
    {"log", "ls PATH | export PATH --gpx|--kml|--csv FILE",
     "the travel log files: each with its hours, entries and first and last fix; or the track with speed, course "
     "and the G values (CSV)",
     {}, runLog},
    {"repair", "PATH COPY",
     "copies the card (an image or a directory) to COPY and closes there every pair left open by a cut-off "
     "write, keeping its readable frames; PATH is not changed",
     {}, runRepair},
};
const size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

}  // namespace vdr
