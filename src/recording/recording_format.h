// tavrin's recording format, written by tavrin-monitor --record (and, without its '#' lines, by
// --csv) and read by the simulated runtime's replay. Two versions are read:
//  - 2, the frame source's: "# tavrin recording 2", '#' comment lines, the header of
//    kPoseColumns, one row per device per frame (ending with the role and the rotation's rows,
//    which older recordings of this version lack), and '#event2,t_ns,kind,serial,class,index,
//    old_index,count' lines with the event kinds by name;
//  - 0.2.0's: the header without its last six columns, rows of the plain functions' records and
//    '#event,t_ms,code,serial,index,old_index,count' lines with _DeviceEvent codes (a disconnect
//    that lowers the count is a device that left, otherwise one switched off), read as the kinds
//    they stand for.
#pragma once

#include <pose/space.h>
#include <tavrin.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace recording {

// ---- writing -------------------------------------------------------------------------------

// The '#' lines that make the CSV a recording: the format's version, units, frame and the event
// line's fields.
const char* preamble();
// The header line of the pose rows (with its line break).
const char* header();
// One row per device of the frame; timestampMs is the frame's time in ms since the recording
// began. Returns the rows written.
unsigned writeRows(std::FILE* out, unsigned long long readNumber, const tavrin_frame& frame, double timestampMs);
// A recording's event line.
void writeEvent(std::FILE* out, const tavrin_event& event);
// The line that names the space of the rows after it: "# space: axes unity, units_per_metre 1000,
// origin X Y Z, orientation W X Y Z" (with its line break).
std::string spaceLine(const tavrin_space& space);

// ---- reading -------------------------------------------------------------------------------

struct Sample {
    double t;       // ms: the frame's t_ns / 1e6, or 0.2.0's timestamp_ms
    int32_t index;  // 0..63 (0.2.0: 0..15)
    int32_t result; // ETrackingResult as recorded (0.2.0: 200 for tracking_ok 1, else 201)
    float pos[3];   // metres in the standing universe (the row's space undone), at most 1 km out
    float quat[4];  // w x y z, of length 1 (to the written digits)
    float vel[3], ang[3];
    int8_t connected = -1;    // the frame source's: the frame's connected flag (-1: not recorded)
    int8_t poseValid = 0;     // the frame source's pose_valid (0.2.0's: tracking_ok)
    uint8_t role = 0;         // a tavrin_role (none when not recorded)
    uint64_t frame = 0;       // the frame source's frame number (0.2.0's: 0)
    int64_t unixNs = 0;       // the frame's wall-clock time (0.2.0's: 0)
    bool hasRotation = false; // the frame source's recordings since the rotation's rows came
    float rotation[9];        // the rows of the rotation as the runtime gave it

    // Its pose as the pose library carries it: the recorded rotation, or its quaternion's.
    ViveSystem::Placement placement() const;
};

struct Event {
    double t;     // ms, on the samples' clock
    int32_t kind; // a tavrin_event_kind
    std::string serial;
    int32_t deviceClass;
    uint32_t index, oldIndex, count;
};

struct Track {
    std::string serial;
    int32_t deviceClass = 0;
    std::vector<Sample> samples; // in time order
    bool inEvents = false;       // the recording's events name this device
};

struct Recording {
    int version = 0;             // 1: 0.2.0's, 2: the frame source's
    std::vector<Track> tracks;   // by first appearance
    std::vector<Event> events;   // in time order
    double start = 0, end = 0;   // ms: the first and the last sample
    ViveSystem::UserSpace space = ViveSystem::defaultSpace(); // the first sample's, as its space line named it
    std::string filter;          // what its first "# filter:" line says, when it has one
};

// Reads a recording, every sample brought back to OpenVR's standing universe in metres from the
// space its latest space line names (none: that universe); false with a message naming the line ("line 12: pos_x is not a number:
// 'abc'") for a malformed one, which is refused whole: non-finite values, positions beyond 1 km
// and quaternions of no length included. Lines are at most 65536 characters.
bool readRecording(std::FILE* in, Recording& out, std::string& error);
// The same from a path; "cannot open PATH" when it cannot be opened.
bool loadRecording(const std::string& path, Recording& out, std::string& error);

} // namespace recording
