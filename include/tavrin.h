/*
 * tavrin — lighthouse-tracked devices (headset, controllers, trackers) as a pose source.
 *
 * The library opens an OpenVR session as a background application, watches which devices come
 * and go (reporting each change by serial number to a handler you register), and hands out
 * paced, fixed-layout pose records.
 *
 * Three ways in:
 *  - seven plain functions with C linkage (initViveLib, releaseViveLib, readViveData,
 *    readViveStatus, setDeviceStatusChangedHandle, setFreq, setTrackingMod) acting on one
 *    process-wide helper that is built when the library is loaded; usable from C and from any
 *    compiler;
 *  - the exported class ViveSystem::TavrinHelper, the same operations on an object of your own;
 *  - the host plug-in factory ViveSystem::Tavrin with the orvane:: component interfaces.
 * The C++ classes carry std::string fields and virtual destructors: use them only with a library
 * built by the same compiler and standard library as your program.
 *
 * Outcomes are _DeviceError codes. Every operation leaves its outcome in one process-wide status
 * word, which the helper and the plain functions copy into your variable; the word reports the
 * last outcome of any operation on any object in the process. A failure of the system underneath
 * (a thread that cannot be created, a failed join) is reported as DeviceError_Unknown, never
 * thrown: by the plain functions, by TavrinHelper's members and by the component objects
 * (idevice start, stop and restart; idata read). The one exception C++ callers can see is
 * std::bad_alloc when memory runs out while an object is constructed, copied or created (a
 * TavrinHelper's constructor and copies, Tavrin's create operations), as with any C++ new.
 *
 * Threads. Device events are delivered on the library's discovery thread (one per started
 * driver), synchronously, with no library lock held; the loop waits for your handler to return.
 * A handler may read poses and status. It may also stop or restart any driver, its own or another
 * one (releaseViveLib, initViveLib, TavrinHelper::stop/start, idevice::stop/start/restart): called
 * on any driver's discovery thread these never wait for a discovery thread, since that thread may
 * itself be waiting on the caller (two handlers stopping each other's drivers would otherwise wait
 * for ever). The loop concerned ends, leaving the session, or begins a new run, as soon as it can:
 * its own loop once the handler returns. A stop from a thread that is not a discovery thread
 * waits until the loop has ended, and always wins over a restart asked for by a handler. A handler
 * must never destroy a driver (delete a helper, release the factory that owns a device) and must
 * not unload the library. An exception thrown by a handler is caught and ignored; the loop goes
 * on.
 *
 * All drivers in a process share the one OpenVR client that the runtime allows a process: the
 * first that needs it opens it, and the last that stops shuts it down. When the VR runtime quits,
 * the library acknowledges it, reports every device gone and DeviceEvent_SessionClosed, shuts the
 * session down at once (the runtime kills a process whose client lingers) and tries to reopen
 * once a second until the runtime is back. When someone else in the process shuts the client down
 * and opens it again before a read notices, the library takes the new client's interface and
 * goes on: no event, the devices stay known. Shut down and left closed, it is as the runtime
 * quitting.
 *
 * Pacing. A read first waits until one frame period (1000/freq ms, see setFreq) has passed since
 * the end of the previous read's wait, then asks the runtime for the poses. So the waits of a
 * reading thread end at least one period apart, but the reads' returns are not a period apart:
 * the time a read spends after its wait (the query and fill), and whatever the caller does between
 * reads, count towards the next period, so a read that comes a period or more after the previous
 * wait ended does not wait at all (after a slow read, the next returns at once) and lost time is
 * not made up. Reads from several threads are safe, but each paces only against the latest wait
 * end it sees when it begins: N threads reading in loops together make up to N reads a period
 * (8 threads at 100 Hz, about 800 reads a second). Pace one reading thread per driver.
 */
#ifndef TAVRIN_H
#define TAVRIN_H

/* TAVRIN_VERSION_MAJOR, TAVRIN_VERSION_MINOR, TAVRIN_VERSION_PATCH and TAVRIN_VERSION_STRING, made
 * by the build from the project's one version number and installed beside this header. */
#include "tavrin_version.h"

#if defined(_WIN32)
#  if defined(TAVRIN_STATIC)
#    define TAVRIN_API
#  elif defined(TAVRIN_BUILDING)
#    define TAVRIN_API __declspec(dllexport)
#  else
#    define TAVRIN_API __declspec(dllimport)
#  endif
#  define TAVRIN_INTERFACE
#elif defined(__GNUC__)
#  define TAVRIN_API __attribute__((visibility("default")))
/* The host interfaces are shared between the host and the library: keep their type information
 * visible so that both sides agree on it. */
#  define TAVRIN_INTERFACE __attribute__((visibility("default")))
#else
#  define TAVRIN_API
#  define TAVRIN_INTERFACE
#endif

#ifdef __cplusplus
#  include <cstddef>
#  include <cstdint>
#  include <stddef.h>
#  include <stdint.h>
#  include <string>
#  define TAVRIN_ENUM_BASE : std::int32_t
#  define TAVRIN_TYPE(name) ViveSystem::name
namespace ViveSystem {
#else
#  include <stdbool.h>
#  include <stddef.h>
#  include <stdint.h>
#  define TAVRIN_ENUM_BASE
#  define TAVRIN_TYPE(name) name
#endif

/* Outcome codes. 104 and 201 describe failed session opens; they are kept inside the driver and
 * never appear in the status word. 0x0FFFFFFF does: when the system refuses what a call needs (a
 * thread that cannot be started or joined, memory), and from a frame source's save_rig. */
enum _DeviceError TAVRIN_ENUM_BASE {
    DeviceError_None = 0,
    DeviceError_NoSession = 100,     /* no OpenVR session is open (yet) */
    DeviceError_NotBound = 102,      /* a component object has no driver attached */
    DeviceError_InvalidArgument = 103, /* a frame source call was given a NULL pointer; the legacy
                                          functions never report it */
    DeviceError_HmdInUse = 104,      /* session open refused: headset in use */
    DeviceError_HmdNotFound = 201,   /* session open refused: no headset */
    DeviceError_Unknown = 0x0FFFFFFF /* any other failure */
};

/* Events passed to the status-changed handler. For a device of OpenVR class c (1 headset,
 * 2 controller, 3 generic tracker) the connect code is 2c+1 and the disconnect code 2c+2. */
enum _DeviceEvent TAVRIN_ENUM_BASE {
    DeviceEvent_SessionOpened = 2,
    DeviceEvent_HmdConnected = 3,
    DeviceEvent_HmdDisconnected = 4,
    DeviceEvent_ControllerConnected = 5,
    DeviceEvent_ControllerDisconnected = 6,
    DeviceEvent_TrackerConnected = 7,
    DeviceEvent_TrackerDisconnected = 8,
    DeviceEvent_IndexChanged = 9, /* same serial, new device index */
    /* The session ended under the driver: the VR runtime quit, or someone else in the process shut
     * the OpenVR client down and left it closed (one who opens it again keeps the session). Every known device has just been reported gone (its disconnect
     * event, count 0); this event follows with count 0 and an all-zero argument. Reads report
     * DeviceError_NoSession from then on, and the driver tries to open a session again once a
     * second: when the runtime is back, DeviceEvent_SessionOpened and the connect events follow as
     * at a first start. */
    DeviceEvent_SessionClosed = 10
};

/* Stored and handed back unchanged; no read consults it (poses are always in the standing
 * universe). A new driver holds 1. */
enum _TrackingMod TAVRIN_ENUM_BASE { TrackingMod_Default = 1 };

/* The argument of every event, 72 bytes, passed by value. Every byte after the serial's NUL is
 * zero; for DeviceEvent_SessionOpened the whole record is zero. */
struct _DeviceEventArg {
    char serial[64]; /* NUL-terminated, at most 63 characters */
    int32_t index;   /* device index (DeviceEvent_IndexChanged: the new index) */
    int32_t index2;  /* device index again (DeviceEvent_IndexChanged: the old index) */
};

/* One device's pose, 180 bytes; reads fill arrays of 16, packed from the front. Values are
 * OpenVR's, in its standing universe: metres, metres per second, radians per second. */
struct _TrackedDevicePose {
    char serial[64];          /* NUL-terminated, at most 63 characters */
    int32_t index;            /* OpenVR device index 0..15 */
    int32_t deviceClass;      /* 1 headset, 2 controller, 3 tracker; 0: not filled */
    int32_t trackingOk;       /* 1 when the tracking result is Running_OK, else 0 */
    float timestampMs;        /* ms since the driver was constructed, on the monotonic clock
                                 (setting the wall clock does not move it); same for one read */
    float position[3];        /* x, y, z in metres */
    float quaternion[4];      /* w, x, y, z */
    float velocity[3];        /* x, y, z in m/s */
    float angularVelocity[3]; /* x, y, z in rad/s */
    float rotation[3][4];     /* rows of the rotation; the 4th float of a row is never written */
};

/* The extended layout filled by TavrinHelper::readDataEx, 152 bytes: no position, no
 * quaternion. */
struct _TrackedDevicePoseEx {
    char serial[64];
    int32_t index;
    int32_t deviceClass;
    int32_t trackingOk;
    float timestampMs;
    float rotation[3][4]; /* the 4th float of each row is 0 */
    float velocity[3];
    float angularVelocity[3];
};

#ifdef __cplusplus
/* The status-changed handler: (device count, event, argument). Runs on the discovery thread. */
typedef void (*DeviceStatusChangedHandler)(int count, _DeviceEvent event, _DeviceEventArg arg);

static_assert(sizeof(_DeviceError) == 4 && sizeof(_DeviceEvent) == 4 && sizeof(_TrackingMod) == 4,
              "enumerations are 32-bit");
static_assert(sizeof(_DeviceEventArg) == 72, "_DeviceEventArg is 72 bytes");
static_assert(offsetof(_DeviceEventArg, serial) == 0, "layout");
static_assert(offsetof(_DeviceEventArg, index) == 64, "layout");
static_assert(offsetof(_DeviceEventArg, index2) == 68, "layout");
static_assert(sizeof(_TrackedDevicePose) == 180, "_TrackedDevicePose is 180 bytes");
static_assert(offsetof(_TrackedDevicePose, serial) == 0, "layout");
static_assert(offsetof(_TrackedDevicePose, index) == 64, "layout");
static_assert(offsetof(_TrackedDevicePose, deviceClass) == 68, "layout");
static_assert(offsetof(_TrackedDevicePose, trackingOk) == 72, "layout");
static_assert(offsetof(_TrackedDevicePose, timestampMs) == 76, "layout");
static_assert(offsetof(_TrackedDevicePose, position) == 80, "layout");
static_assert(offsetof(_TrackedDevicePose, quaternion) == 92, "layout");
static_assert(offsetof(_TrackedDevicePose, velocity) == 108, "layout");
static_assert(offsetof(_TrackedDevicePose, angularVelocity) == 120, "layout");
static_assert(offsetof(_TrackedDevicePose, rotation) == 132, "layout");
static_assert(sizeof(_TrackedDevicePoseEx) == 152, "_TrackedDevicePoseEx is 152 bytes");
static_assert(offsetof(_TrackedDevicePoseEx, serial) == 0, "layout");
static_assert(offsetof(_TrackedDevicePoseEx, index) == 64, "layout");
static_assert(offsetof(_TrackedDevicePoseEx, deviceClass) == 68, "layout");
static_assert(offsetof(_TrackedDevicePoseEx, trackingOk) == 72, "layout");
static_assert(offsetof(_TrackedDevicePoseEx, timestampMs) == 76, "layout");
static_assert(offsetof(_TrackedDevicePoseEx, rotation) == 80, "layout");
static_assert(offsetof(_TrackedDevicePoseEx, velocity) == 128, "layout");
static_assert(offsetof(_TrackedDevicePoseEx, angularVelocity) == 140, "layout");

} /* namespace ViveSystem */
#else
typedef enum _DeviceError _DeviceError;
typedef enum _DeviceEvent _DeviceEvent;
typedef enum _TrackingMod _TrackingMod;
typedef struct _DeviceEventArg _DeviceEventArg;
typedef struct _TrackedDevicePose _TrackedDevicePose;
typedef struct _TrackedDevicePoseEx _TrackedDevicePoseEx;
typedef void (*DeviceStatusChangedHandler)(int count, _DeviceEvent event, _DeviceEventArg arg);
_Static_assert(sizeof(_DeviceEventArg) == 72, "_DeviceEventArg is 72 bytes");
_Static_assert(sizeof(_TrackedDevicePose) == 180, "_TrackedDevicePose is 180 bytes");
_Static_assert(sizeof(_TrackedDevicePoseEx) == 152, "_TrackedDevicePoseEx is 152 bytes");
#endif

/* ---------------------------------------------------------------------------------------------
 * The seven plain functions. Each acts on the process-wide helper, which the library builds when
 * it is loaded (no thread, no session) and destroys when it is unloaded (stopping the driver).
 * None throws: a failure inside reports DeviceError_Unknown. Pointers must be valid; pose arrays
 * are always 16 records.
 */
#ifdef __cplusplus
extern "C" {
#endif

/* Starts (or restarts) the driver: its discovery thread opens the OpenVR session on its own,
 * retrying once a second, and announces it with DeviceEvent_SessionOpened. Returns true and
 * writes DeviceError_None at once, whether or not a VR runtime is running. Any caller thread; from
 * the handler it restarts the loop once the handler returns. */
TAVRIN_API bool initViveLib(TAVRIN_TYPE(_DeviceError) * err);

/* Stops the driver: the discovery thread ends and the session is shut down. Harmless when
 * stopped. Settings and the known device table are kept for the next start. */
TAVRIN_API void releaseViveLib(void);

/* Registers the status-changed handler (null clears it); before or after a start. Events raised
 * from then on go to it; events are not replayed. */
TAVRIN_API void setDeviceStatusChangedHandle(TAVRIN_TYPE(DeviceStatusChangedHandler) handler);

/* Stores the tracking mode; kept across stop and start. */
TAVRIN_API void setTrackingMod(TAVRIN_TYPE(_TrackingMod) mode);

/* Sets the frame period to 1000/freq ms; 0 counts as 1000 (1 ms). Default 120 Hz. A read's wait
 * ends at least one period after the previous read's wait ended (see Pacing above: not after the
 * previous read returned). Takes effect at the next read. */
TAVRIN_API void setFreq(unsigned int freq);

/* Waits until one frame period has passed since the previous read's wait ended (at once when it
 * already has), then asks the runtime for the poses of indices 0..15 and fills up to 16 records
 * packed from the front, ascending by index (records past the last device are left untouched):
 * every index with a tracking result, a velocity that is not exactly zero, and a headset,
 * controller or generic tracker there. err receives DeviceError_None, or DeviceError_NoSession
 * (array untouched) while no session is open. Runs on the caller's thread.
 * A steady read asks the runtime nothing else: serials and classes come from the discovery loop.
 * An index the driver does not know yet (or that has shown no device since) is asked for them
 * once, in that read; when that finds a known serial at a new index, the index it came from is
 * asked again, so no read labels two records with one serial. The one thing this leaves to the
 * next discovery pass (at most 500 ms): another device taking an index whose device never showed
 * as gone in between keeps the old serial and class until then. */
TAVRIN_API void readViveData(TAVRIN_TYPE(_TrackedDevicePose) * poses, TAVRIN_TYPE(_DeviceError) * err);

/* Writes DeviceError_NoSession while no session is open, otherwise the current status word.
 * Changes nothing. */
TAVRIN_API void readViveStatus(TAVRIN_TYPE(_DeviceError) * status);

/* ---------------------------------------------------------------------------------------------
 * Diagnostics. Plain C functions too, prefixed so that they cannot clash with a host's names. The
 * texts are the library's own and live as long as it is loaded.
 */

/* The library's version, "MAJOR.MINOR.PATCH" (TAVRIN_VERSION_STRING of the build). */
TAVRIN_API const char* tavrin_version(void);

/* Why the process has no OpenVR session (every driver and frame source shares one): the runtime's
 * EVRInitError of the latest failed attempt to open it, whoever made it (for example 121,
 * VRInitError_Init_NoServerForBackgroundApp: no runtime running; 108, VRInitError_Init_HmdNotFound).
 * 0 once a session is open, and before any attempt. Status reads and frame reads only say
 * DeviceError_NoSession; this says why. */
TAVRIN_API int32_t tavrin_session_error(void);

/* The name of a _DeviceError code ("DeviceError_NoSession"), or "unknown". */
TAVRIN_API const char* tavrin_error_name(int32_t code);

/* The name of a legacy _DeviceEvent code, as the handler gets them ("DeviceEvent_HmdConnected"),
 * or "unknown". Not for a frame source's events: their kinds are named by tavrin_event_kind_name
 * (3 is DEVICE_ARRIVED there, "device_arrived"). */
TAVRIN_API const char* tavrin_event_name(int32_t code);

/* ---------------------------------------------------------------------------------------------
 * The frame source: every device OpenVR serves (indices 0..63, base stations included), frames
 * with numbers and nanosecond times, and events that say what changed, polled from a queue. It
 * stands beside the legacy functions above and touches none of their state: not the status word,
 * not the process-wide helper, not its handler (whose records and events keep to indices 0..15).
 *
 * A source joins the process's one OpenVR session as every driver does: the first user opens it,
 * the last one to stop shuts it down; when the runtime quits (or someone else shuts the client
 * down and leaves it closed; one who opens it again keeps the session going) the source reports its devices gone and TAVRIN_EVENT_SESSION_CLOSED, and reopens once the
 * runtime is back. No callback runs in your code: events wait in a queue for
 * tavrin_source_next_event. Nothing here throws.
 *
 * Units: metres, metres per second, radians per second; OpenVR's standing universe
 * (right-handed, +y up, -z forward), unless the source's space says otherwise (see the rig,
 * below: its origin, heading, axes and units). Times: tavrin_now_ns(), a monotonic clock in nanoseconds
 * (the performance counter on Windows, CLOCK_MONOTONIC elsewhere), and the wall clock.
 */
#define TAVRIN_MAX_DEVICES 64

typedef struct tavrin_source tavrin_source; /* opaque */

/* One device in a frame; 168 bytes. */
typedef struct tavrin_device {
    char serial[64];           /* NUL-terminated, at most 63 characters */
    uint32_t index;            /* OpenVR device index, 0..63 */
    int32_t device_class;      /* 1 headset, 2 controller, 3 generic tracker, 4 base station */
    int32_t tracking_result;   /* OpenVR's ETrackingResult as the runtime wrote it (200 Running_OK;
                                  values the SDK does not name, such as 300, unchanged) */
    uint8_t connected;         /* 1 while the runtime reports the device connected */
    uint8_t pose_valid;        /* 1 when the runtime reports the pose valid */
    uint8_t role;              /* a tavrin_role: what the device stands for on the body */
    uint8_t battery;           /* percent 0..100 as discovery last asked it (once a pass, about
                                  twice a second), 255 when the runtime reports none */
    float position[3];         /* m, standing universe (or the source's space and units) */
    float orientation[4];      /* quaternion w, x, y, z (as the records' quaternion) */
    float velocity[3];         /* m/s (or the space's units per second) */
    float angular_velocity[3]; /* rad/s */
    float rotation[3][3];      /* rows of the rotation */
} tavrin_device;

/* One read: 10792 bytes, devices at offset 40. Records grow only at their end: a later library
 * accepts every size of this record that an earlier header gave (the frame_size of the reads). */
typedef struct tavrin_frame {
    uint64_t frame_number;  /* the instant's number: 1 for a source's first, +1 an instant; a gap
                               means instants skipped; 0 for read_at and without a session */
    int64_t time_ns;        /* the instant these poses are for, on tavrin_now_ns()'s clock */
    int64_t unix_time_ns;   /* that instant on the wall clock, ns since 1970-01-01 UTC */
    int64_t query_time_ns;  /* tavrin_now_ns() when the runtime was asked */
    uint32_t device_count;  /* devices[0 .. device_count-1] are filled, ascending by index; the
                               records after them are left as they were */
    uint32_t reserved;      /* zero */
    tavrin_device devices[TAVRIN_MAX_DEVICES];
} tavrin_frame;

/* How far from now the runtime answers for an instant: it keeps this much pose history and
 * extrapolates this far with each device's velocity. */
#define TAVRIN_REACH_NS 100000000

typedef enum tavrin_event_kind {
    TAVRIN_EVENT_SESSION_OPENED = 1,     /* the source has a session; a fresh device list follows */
    TAVRIN_EVENT_SESSION_CLOSED = 2,     /* the session ended under the source; every device was
                                            reported LEFT just before */
    TAVRIN_EVENT_DEVICE_ARRIVED = 3,     /* a serial seen for the first time, or again after it left;
                                            when the device is not connected, SWITCHED_OFF follows */
    TAVRIN_EVENT_DEVICE_LEFT = 4,        /* a known serial no longer present at any index */
    TAVRIN_EVENT_DEVICE_SWITCHED_ON = 5, /* a known device's connected flag rose */
    TAVRIN_EVENT_DEVICE_SWITCHED_OFF = 6, /* ... or dropped; it stays known, and in frames */
    TAVRIN_EVENT_INDEX_CHANGED = 7       /* the same serial at a new index */
} tavrin_event_kind;

/* One change, as discovery saw it; 96 bytes. */
typedef struct tavrin_event {
    int32_t kind;          /* a tavrin_event_kind */
    int32_t device_class;  /* 0 for session events */
    uint32_t index;        /* the device's index (INDEX_CHANGED: the new one) */
    uint32_t old_index;    /* INDEX_CHANGED: the previous index; otherwise equal to index */
    uint32_t device_count; /* devices the source knows once this event is applied */
    uint32_t dropped;      /* events lost to a full queue just before this one */
    int64_t time_ns;       /* tavrin_now_ns() when the change was seen */
    char serial[64];       /* "" for session events */
} tavrin_event;

/* The name of a tavrin_event_kind: "session_opened", "session_closed", "device_arrived",
 * "device_left", "device_switched_on", "device_switched_off", "index_changed"; NULL for any other
 * value. (tavrin_event_name names the legacy _DeviceEvent codes, not these.) */
TAVRIN_API const char* tavrin_event_kind_name(int32_t kind);

/* The library's monotonic clock in nanoseconds: the clock of every time_ns. Any thread. */
TAVRIN_API int64_t tavrin_now_ns(void);

/* A stopped source, paced at rate_hz reads a second (0: unpaced, reads never wait). NULL for a
 * negative, NaN or infinite rate, a positive one below 0.001 or above 100000, or when memory runs
 * out. */
TAVRIN_API tavrin_source* tavrin_source_create(double rate_hz);

/* Stops the source (see tavrin_source_stop), wakes every thread waiting in next_event (which
 * returns 0), waits for them to leave, and frees it. NULL is harmless. A call on the source that
 * begins once destroy has begun (a read, a start, a next_event) is the caller's error, as with any
 * freed handle: end your reading thread before you destroy its source. */
TAVRIN_API void tavrin_source_destroy(tavrin_source* source);

/* Starts the discovery loop (a thread of the library's), which joins the process's session,
 * retrying once a second: returns DeviceError_None at once, DeviceError_Unknown when the thread
 * cannot be started, DeviceError_InvalidArgument for NULL. A started source is restarted. Every
 * index 0..63 is scanned every 500 ms; changes are queued as events. */
TAVRIN_API int32_t tavrin_source_start(tavrin_source* source);

/* Ends the discovery loop and leaves the session; harmless when stopped and for NULL. No event is
 * queued after it returns; events already queued stay. The source forgets its devices, so the
 * next start begins with SESSION_OPENED and an ARRIVED for every device present. The rate is
 * kept. */
TAVRIN_API void tavrin_source_stop(tavrin_source* source);

/* The next frame of the source's grid: at rate R the instants t0 + round(k x 1e9 / R) ns, k = 0,
 * 1, 2, ... (no drift from adding rounded periods), t0 being the moment of the first read that has
 * a session, which returns at once. Each read returns the instant after the previous frame's: it
 * waits until that instant has come (see tavrin_source_set_spin_us for how the wait ends); an
 * instant already past but within TAVRIN_REACH_NS comes at once, so a reader that fell behind
 * catches up and loses nothing; older ones are skipped and frame_number jumps by as many. The
 * runtime is asked for the poses of all 64 indices at that instant (its prediction: the instant
 * less now), so the poses are where the devices were at time_ns however late the thread woke;
 * query_time_ns says when it was asked. At rate 0 each read is for now: time_ns == query_time_ns,
 * frame_number +1 a read.
 *
 * A record is filled for every device the source knows (switched-off ones with connected 0 and
 * pose_valid 0), ascending by index. A steady read asks the runtime nothing else: classes and
 * serials come from discovery; an index the source does not know whose pose reports a connected
 * device is asked for them once, in that read, so it is in that very frame. When that finds a
 * known serial at a new index, the index it came from is asked again in the same read (or left
 * out until discovery knows it): no frame holds one serial twice.
 *
 * frame_size is sizeof(tavrin_frame) as the caller's header gives it. Returns DeviceError_None;
 * DeviceError_NoSession while the source has no session, with device_count 0 and frame_number 0
 * (the grid goes on: its instants pass meanwhile; before the first frame there is no grid, and
 * such reads are a period apart, TAVRIN_REACH_NS at the most); DeviceError_InvalidArgument for a NULL source
 * or frame or a frame_size this library does not know. One reading thread per source. */
TAVRIN_API int32_t tavrin_source_read(tavrin_source* source, tavrin_frame* frame, uint32_t frame_size);

/* The poses at instant_ns (on tavrin_now_ns()'s clock), at once, the grid untouched: for a caller
 * that stamps its own samples (a camera, a force plate) and wants the body at that moment.
 * frame_number 0, time_ns instant_ns. DeviceError_InvalidArgument for an instant further than
 * TAVRIN_REACH_NS either side of now, and as tavrin_source_read; DeviceError_NoSession as it. May
 * be called from any thread, also while another reads. */
TAVRIN_API int32_t tavrin_source_read_at(tavrin_source* source, int64_t instant_ns, tavrin_frame* frame,
                                         uint32_t frame_size);

/* How a paced read's wait for its instant ends. The frame's poses are for its instant however late
 * the thread wakes, so the default is 0: sleep only (the system's oversleep, often 0.1-0.3 ms,
 * only delays when the frame is in hand). -1: adaptive: it sleeps to the instant less a margin
 * learnt from this machine's own oversleep (a high percentile of the recent ones plus a small pad;
 * grown at once after a late wake, shrunk slowly while sleeps are punctual), then spins only that
 * margin. N > 0: spin exactly the last N microseconds, whatever it costs. Takes effect at the next
 * read. DeviceError_InvalidArgument for a NULL source or a value below -1. Any thread. */
TAVRIN_API int32_t tavrin_source_set_spin_us(tavrin_source* source, int32_t spin_us);

/* Takes the oldest queued event: 1 with *event filled; 0 when none came within timeout_ms (0
 * polls, a negative timeout waits until one comes or the source is destroyed); -1 for a NULL
 * source or event. The queue holds 1024 events; when it is full the oldest go, and the next event
 * delivered says how many in `dropped`. Any thread. */
TAVRIN_API int32_t tavrin_source_next_event(tavrin_source* source, tavrin_event* event, int32_t timeout_ms);

/* ---------------------------------------------------------------------------------------------
 * The rig: which device is which part of the body, the point each one stands for, and the space
 * (origin, heading, axes, units) frames are reported in. All of it belongs to one source, by
 * serial, whether or not the device is present; it is kept across stop and start and across a
 * device leaving and coming back, and shown from the next read. The functions below may be called
 * from any thread, also while another thread reads. The legacy records and events do not change:
 * they stay in OpenVR's standing universe with no roles.
 */

/* What a device stands for. */
typedef enum tavrin_role {
    TAVRIN_ROLE_NONE = 0,
    TAVRIN_ROLE_HEAD = 1,
    TAVRIN_ROLE_LEFT_HAND = 2,
    TAVRIN_ROLE_RIGHT_HAND = 3,
    TAVRIN_ROLE_WAIST = 4,
    TAVRIN_ROLE_CHEST = 5,
    TAVRIN_ROLE_LEFT_FOOT = 6,
    TAVRIN_ROLE_RIGHT_FOOT = 7,
    TAVRIN_ROLE_LEFT_KNEE = 8,
    TAVRIN_ROLE_RIGHT_KNEE = 9,
    TAVRIN_ROLE_LEFT_ELBOW = 10,
    TAVRIN_ROLE_RIGHT_ELBOW = 11,
    TAVRIN_ROLE_LEFT_SHOULDER = 12,
    TAVRIN_ROLE_RIGHT_SHOULDER = 13,
    TAVRIN_ROLE_CAMERA = 14,
    TAVRIN_ROLE_PROP = 15
} tavrin_role;

/* "none", "head", "left_hand", "right_hand", "waist", "chest", "left_foot", "right_foot",
 * "left_knee", "right_knee", "left_elbow", "right_elbow", "left_shoulder", "right_shoulder",
 * "camera", "prop"; NULL outside 0..15. */
TAVRIN_API const char* tavrin_role_name(int32_t role);
/* The role of such a name; -1 for an unknown name or NULL. */
TAVRIN_API int32_t tavrin_role_from_name(const char* name);

/* Assigns a role to the device with this serial; TAVRIN_ROLE_NONE removes the assignment. Without
 * one a device holds its default: the headset HEAD, a controller the runtime gives a hand
 * LEFT_HAND or RIGHT_HAND, anything else NONE. Every role but PROP is held by at most one device in
 * a frame: an assignment takes the role from the device that held it (which falls back to its
 * default, or NONE when its default is that role), and a default holds only while no assignment
 * claims that role (remove a tracker's HEAD and the headset is HEAD again); two devices with one
 * default (two left hands): the lower index holds it. Returns DeviceError_None;
 * DeviceError_InvalidArgument, changing nothing, for a NULL source or serial, an empty serial or
 * one of 64 characters or more, or a role outside 0..15. */
TAVRIN_API int32_t tavrin_source_set_role(tavrin_source* source, const char* serial, int32_t role);

/* Gives body roles from the latest frame read, of a person standing or walking upright: to every
 * generic tracker it can place around the head (the device holding TAVRIN_ROLE_HEAD, with a valid
 * pose), feet (the ankles), knees, waist, chest, shoulders (trackers on the upper arms) and elbows,
 * left and right as seen from the head's heading on the floor. Hands stay with the runtime's
 * controller roles; a device it cannot place keeps its role. The roles are assigned as
 * tavrin_source_set_role does (saved with the rig). Returns how many devices it gave a role; -1,
 * changing nothing, for a NULL source or without a valid head pose in the latest frame. */
TAVRIN_API int32_t tavrin_source_assign_roles(tavrin_source* source);

/* The axes of a space. The columns give each new coordinate from OpenVR's (x, y, z). */
typedef enum tavrin_axes {
    TAVRIN_AXES_OPENVR = 0, /* right-handed, +y up, -z forward: as the runtime reports      */
    TAVRIN_AXES_Z_UP = 1,   /* right-handed, +z up, +x forward, +y left  : (-z, -x,  y)    */
    TAVRIN_AXES_UNITY = 2,  /* left-handed,  +y up, +z forward, +x right : ( x,  y, -z)    */
    TAVRIN_AXES_UNREAL = 3  /* left-handed,  +z up, +x forward, +y right : (-z,  x,  y)    */
} tavrin_axes;

/* The space frames are reported in; 36 bytes. For a device's pose (p, R, v, w) in the standing
 * universe (its offset applied) and a space (origin o, rotation R_L, axis matrix M, scale s),
 * frames report: position s M R_L^T (p - o); rotation M R_L^T R M^T (and its quaternion, of either
 * sign); velocity s M R_L^T v; angular velocity det(M) M R_L^T w (rad/s). The default: origin 0,
 * rotation identity, TAVRIN_AXES_OPENVR, 1 unit per metre. */
typedef struct tavrin_space {
    float position[3];    /* the space's origin in the standing universe, metres */
    float orientation[4]; /* the space's rotation in the standing universe, w x y z */
    int32_t axes;         /* a tavrin_axes */
    float units_per_metre; /* 1 for metres, 100 for centimetres, 1000 for millimetres */
} tavrin_space;

/* Sets the space (NULL: the default). The quaternion is normalised. DeviceError_InvalidArgument,
 * changing nothing, for a NULL source, a number that is not finite, a quaternion of length zero,
 * axes outside 0..3 or units_per_metre not above 0. */
TAVRIN_API int32_t tavrin_source_set_space(tavrin_source* source, const tavrin_space* space);
/* The space (its quaternion normalised); DeviceError_InvalidArgument for NULL arguments. */
TAVRIN_API int32_t tavrin_source_get_space(const tavrin_source* source, tavrin_space* out);
/* Re-expresses a record read in space `from` (as tavrin_source_get_space gives it) in space `to`:
 * the same pose and motion with `to`'s origin, heading, axes and units; for a receiver that wants
 * other axes or units than the frames' (a Unity or Unreal stream beside a z-up file). NULL for
 * either space: the default. Between two spaces of one origin and heading the values are only
 * moved, negated and scaled, and the orientation keeps its sign; otherwise the orientation is that
 * of the new rotation (of either sign). Other fields are left as they are. Returns
 * DeviceError_None; DeviceError_InvalidArgument, the record unchanged, for a NULL record or a space
 * tavrin_source_set_space would refuse. Any thread. */
TAVRIN_API int32_t tavrin_space_convert(const tavrin_space* from, const tavrin_space* to, tavrin_device* device);
/* Puts the space's origin and heading where a device is: from its valid pose in the latest frame
 * read (in the standing universe, its offset applied), the origin (its x, 0, its z) and the
 * rotation about +y that turns -z onto the device's -z axis projected on the floor (onto its +y
 * axis when -z is within 20 degrees of vertical: a tracker lying on a floor marker). Axes and units
 * are kept. DeviceError_InvalidArgument, changing nothing, for a NULL source or serial, or a device
 * with no valid pose in the latest frame read (a read without a session leaves none; a pose
 * whose position or rotation is not finite is none). */
TAVRIN_API int32_t tavrin_source_set_origin_from_device(tavrin_source* source, const char* serial);

/* The point a device stands for, in the device's own frame: position in metres, orientation
 * w x y z (normalised). Frames then report p + R t, R R_off, v + w x (R t), w before the space is
 * applied. NULL for both removes it (NULL for one: 0 or the identity). DeviceError_InvalidArgument,
 * changing nothing, for a bad serial (as tavrin_source_set_role), a number that is not finite or a
 * quaternion of length zero. */
TAVRIN_API int32_t tavrin_source_set_offset(tavrin_source* source, const char* serial, const float position[3],
                                            const float orientation[4]);

/* A per-device filter of the poses a paced read reports: the One Euro filter (Casiez, Roussel and
 * Vogel, CHI 2012), a low-pass whose cutoff rises with speed, so that a still tracker is steady and
 * a moving one does not lag. 12 bytes. */
typedef struct tavrin_filter {
    float min_cutoff_hz;        /* the cutoff when still; 0: no filter */
    float beta;                 /* how fast the cutoff rises with speed (per m/s) */
    float derivative_cutoff_hz; /* the cutoff of the speed's own low-pass */
} tavrin_filter;

/* The documented defaults for body trackers: min_cutoff_hz 0.5, beta 15, derivative_cutoff_hz 0.5
 * (at 120 Hz, under 1 mm and 0.5 degree of noise, a still tracker's jitter cut at least 5x in
 * position and 3x in rotation, a tracker moving at 1 m/s within 10 mm of where it is). */
TAVRIN_API void tavrin_filter_default(tavrin_filter* out);
/* Sets the filter of the device with this serial; serial NULL: of every device without a filter of
 * its own; filter NULL: none. Position and orientation are filtered (orientation on the sphere of
 * rotations), in the standing universe after the device's offset, before the space; the velocities
 * reported are low-passed as the pose they go with. A device's filter state belongs to its serial:
 * it survives an index change and starts again when the device loses tracking or is in no frame,
 * its first pose then passing as it is. Paced reads (tavrin_source_read) are filtered;
 * tavrin_source_read_at's frames are not. Saved in the rig file ("filter": {"min_cutoff_hz": ..,
 * "beta": .., "derivative_cutoff_hz": ..} at the top and per device). DeviceError_InvalidArgument,
 * nothing changed, for a NULL source, a bad serial (as tavrin_source_set_role), or a number that is
 * not finite or is below 0. */
TAVRIN_API int32_t tavrin_source_set_filter(tavrin_source* source, const char* serial, const tavrin_filter* filter);
/* The filter that applies to the device with this serial (its own, else every device's); serial
 * NULL: every device's. All zero for none. DeviceError_InvalidArgument for a NULL source or out, or
 * a bad serial. */
TAVRIN_API int32_t tavrin_source_get_filter(const tavrin_source* source, const char* serial, tavrin_filter* out);

/* The rig file (JSON): roles, offsets and space together.
 *   {"format": "tavrin-rig", "version": 1,
 *    "space": {"position": [0,0,0], "orientation": [1,0,0,0], "axes": "openvr", "units_per_metre": 1},
 *    "devices": {"LHR-1A2B3C4D": {"role": "left_foot",
 *                                 "offset": {"position": [0,0,0], "orientation": [1,0,0,0]}}}}
 * axes by name: "openvr", "z_up", "unity", "unreal". A serial that is not UTF-8 (the runtime may
 * send any bytes) is written with "serial_hex", its bytes in hexadecimal, which then names it.
 * Keys the loader does not know (a "note", a device's "label") are kept by a load and written
 * back by the next save. A save writes a new file beside the old one (its name begins with a dot
 * and ends ".tavrin-save"; one left by a save that was killed is removed by the next), keeps the
 * old file's mode, follows a link to the file it names, and renames the new file over the old, so
 * that a crash leaves the old file whole; a file that already holds this rig is left untouched.
 * DeviceError_None, or DeviceError_Unknown with the reason in tavrin_source_rig_error and no new
 * file left behind. Files of more than 64 MiB are refused. A load replaces roles, offsets and space together, or changes nothing
 * and returns DeviceError_InvalidArgument. NULL arguments: DeviceError_InvalidArgument. */
TAVRIN_API int32_t tavrin_source_save_rig(tavrin_source* source, const char* path);
TAVRIN_API int32_t tavrin_source_load_rig(tavrin_source* source, const char* path);
/* The reason for the calling thread's latest load or save on this source: "" when it went well
 * (or this thread made none); otherwise a sentence naming the file and, for a bad file, the line
 * and what is wrong. Each thread reads its own call's reason, whatever other threads load or save
 * meanwhile: the text is the calling thread's, and stays valid until that thread's next load or
 * save. "" for NULL. */
TAVRIN_API const char* tavrin_source_rig_error(const tavrin_source* source);

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(tavrin_device) == 168, "tavrin_device is 168 bytes");
static_assert(offsetof(tavrin_device, serial) == 0, "layout");
static_assert(offsetof(tavrin_device, index) == 64, "layout");
static_assert(offsetof(tavrin_device, device_class) == 68, "layout");
static_assert(offsetof(tavrin_device, tracking_result) == 72, "layout");
static_assert(offsetof(tavrin_device, connected) == 76, "layout");
static_assert(offsetof(tavrin_device, pose_valid) == 77, "layout");
static_assert(offsetof(tavrin_device, role) == 78, "layout");
static_assert(offsetof(tavrin_device, battery) == 79, "layout");
static_assert(offsetof(tavrin_device, position) == 80, "layout");
static_assert(offsetof(tavrin_device, orientation) == 92, "layout");
static_assert(offsetof(tavrin_device, velocity) == 108, "layout");
static_assert(offsetof(tavrin_device, angular_velocity) == 120, "layout");
static_assert(offsetof(tavrin_device, rotation) == 132, "layout");
static_assert(sizeof(tavrin_frame) == 40 + 64 * 168, "tavrin_frame is 10792 bytes");
static_assert(offsetof(tavrin_frame, frame_number) == 0, "layout");
static_assert(offsetof(tavrin_frame, time_ns) == 8, "layout");
static_assert(offsetof(tavrin_frame, unix_time_ns) == 16, "layout");
static_assert(offsetof(tavrin_frame, query_time_ns) == 24, "layout");
static_assert(offsetof(tavrin_frame, device_count) == 32, "layout");
static_assert(offsetof(tavrin_frame, reserved) == 36, "layout");
static_assert(offsetof(tavrin_frame, devices) == 40, "layout");
static_assert(sizeof(tavrin_event) == 96, "tavrin_event is 96 bytes");
static_assert(offsetof(tavrin_event, kind) == 0, "layout");
static_assert(offsetof(tavrin_event, device_class) == 4, "layout");
static_assert(offsetof(tavrin_event, index) == 8, "layout");
static_assert(offsetof(tavrin_event, old_index) == 12, "layout");
static_assert(offsetof(tavrin_event, device_count) == 16, "layout");
static_assert(offsetof(tavrin_event, dropped) == 20, "layout");
static_assert(offsetof(tavrin_event, time_ns) == 24, "layout");
static_assert(offsetof(tavrin_event, serial) == 32, "layout");
static_assert(sizeof(tavrin_space) == 36, "tavrin_space is 36 bytes");
static_assert(sizeof(tavrin_filter) == 12, "tavrin_filter is 12 bytes");
static_assert(offsetof(tavrin_filter, derivative_cutoff_hz) == 8, "layout");
static_assert(offsetof(tavrin_space, orientation) == 12, "layout");
static_assert(offsetof(tavrin_space, axes) == 28, "layout");
static_assert(offsetof(tavrin_space, units_per_metre) == 32, "layout");
#else
_Static_assert(sizeof(tavrin_device) == 168, "tavrin_device is 168 bytes");
_Static_assert(offsetof(tavrin_frame, devices) == 40, "tavrin_frame layout");
_Static_assert(sizeof(tavrin_frame) == 10792, "tavrin_frame is 10792 bytes");
_Static_assert(sizeof(tavrin_event) == 96, "tavrin_event is 96 bytes");
_Static_assert(sizeof(tavrin_space) == 36, "tavrin_space is 36 bytes");
_Static_assert(sizeof(tavrin_filter) == 12, "tavrin_filter is 12 bytes");
#endif

#ifdef __cplusplus
/* ---------------------------------------------------------------------------------------------
 * The host's plug-in interfaces, as this library implements them. The order of the virtual
 * operations and of the fields is fixed: compiled hosts depend on it.
 */
namespace orvane {

class TAVRIN_INTERFACE idevice {
public:
    std::string name;
    std::string param;
    virtual ~idevice() = default;
    virtual void init() = 0;
    virtual bool start() = 0;
    virtual void stop() = 0;
    virtual bool restart() = 0;
    virtual void* handle() = 0;
    virtual void setName(const char* text) = 0;
    virtual void setParam(const char* text) = 0;
};

class TAVRIN_INTERFACE icmd {
public:
    std::string name;
    std::string param;
    void* handle = nullptr;
    virtual ~icmd() = default;
    virtual void send(void* arg) = 0;
    virtual void control(void* arg) = 0;
    virtual void query(void* arg) = 0;
    virtual void attach(void* driver) = 0;
};

class TAVRIN_INTERFACE idata {
public:
    std::string name;
    std::string param;
    void* handle = nullptr;
    virtual ~idata() = default;
    virtual void read(void* data) = 0; /* this library: 16 ViveSystem::_TrackedDevicePose */
    virtual void control(void* arg) = 0;
    virtual void query(void* arg) = 0;
    virtual void attach(void* driver) = 0;
};

class TAVRIN_INTERFACE istat {
public:
    std::string name;
    std::string param;
    void* handle = nullptr;
    virtual ~istat() = default;
    virtual void read(void* data) = 0; /* this library: one ViveSystem::_DeviceError */
    virtual void control(void* arg) = 0;
    virtual void query(void* arg) = 0;
    virtual void attach(void* driver) = 0;
};

class TAVRIN_INTERFACE idevice_factory {
public:
    void* handle = nullptr; /* the driver of the device this factory created */
    idevice* dev = nullptr;
    icmd* cmd = nullptr;
    idata* data = nullptr;
    istat* stat = nullptr;

    idevice_factory() = default;
    idevice_factory(const idevice_factory&) = default;
    idevice_factory& operator=(const idevice_factory&) = default;
    /* Destroys nothing: only release does. */
    virtual ~idevice_factory()
    {
        handle = nullptr;
        dev = nullptr;
        cmd = nullptr;
        data = nullptr;
        stat = nullptr;
    }
    virtual idevice* create_dev(std::string name, std::string param) = 0;
    virtual icmd* create_cmd(std::string text) = 0;
    virtual idata* create_data(std::string text) = 0;
    virtual istat* create_stat(std::string text) = 0;
    /* Stops and destroys the device, then the command, data and status objects. */
    virtual void release()
    {
        if (dev) {
            dev->stop();
            delete dev;
            dev = nullptr;
        }
        delete cmd;
        cmd = nullptr;
        delete data;
        data = nullptr;
        delete stat;
        stat = nullptr;
    }
};

} // namespace orvane

namespace ViveSystem {

/*
 * The host plug-in factory. create_dev makes a device with its own driver (idle: no thread, no
 * session); create_cmd, create_data and create_stat make objects bound to that driver, or return
 * null (changing nothing) when the factory has no live device. Call release before destroying the
 * factory: release stops the device and destroys the objects; destroying a factory without
 * release leaves its objects alive.
 *
 * Copies share: a copy refers to the same objects, and each factory that refers to an object
 * holds a share in it. release gives up this factory's shares; an object is stopped and destroyed
 * when its last share is given up, so every order of releasing and destroying originals and
 * copies frees each object once. A second create_dev (or create_cmd ...) adds an object: the
 * factory holds shares in both and release frees both. After release the factory has no device:
 * its create operations return null until the next create_dev. A Tavrin copied or assigned from
 * a TavrinHelper shares only the objects in the helper's own five factory fields (none, unless
 * the helper itself was used as a factory), never the helper's driver.
 *
 * When a device is freed, every command, data and status object bound to its driver is unbound
 * (its operations report DeviceError_NotBound), also objects that no factory holds any more.
 * attach binds only to the live driver its pointer names; any other pointer leaves the object
 * unbound.
 */
class TAVRIN_API Tavrin : public orvane::idevice_factory {
public:
    Tavrin();
    Tavrin(const Tavrin& other);
    Tavrin& operator=(const Tavrin& other);
    ~Tavrin() override;

    orvane::idevice* create_dev(std::string name, std::string param) override;
    orvane::icmd* create_cmd(std::string text) override;
    orvane::idata* create_data(std::string text) override;
    orvane::istat* create_stat(std::string text) override;
    void release() override;
};

/*
 * A ready-made client of the factory: one driver, started and stopped on request. The outcome of
 * each call is written to err (and kept in the process-wide status word).
 *
 * Copies share the same factory and driver; the driver is stopped and freed when the last copy is
 * destroyed. Destroying a copy while others remain leaves the driver running.
 */
class TAVRIN_API TavrinHelper : public Tavrin {
public:
    TavrinHelper();
    TavrinHelper(const TavrinHelper& other);
    TavrinHelper& operator=(const TavrinHelper& other);
    ~TavrinHelper() override;

    /* Starts (or restarts) the driver; true and DeviceError_None unless the status word changed
     * meanwhile. The session opens later, on the discovery thread. */
    bool start(_DeviceError& err);
    /* Stops the driver: thread joined, session shut down. */
    void stop();
    /* DeviceError_NoSession while no session is open, else the status word. */
    void readStatus(_DeviceError* status);
    /* A paced read of 16 records (see readViveData). */
    void readData(_TrackedDevicePose* poses, _DeviceError& err);
    /* The same read in the extended layout. Record i corresponds to record i of the read: records
     * the read did not fill keep what the caller supplied. */
    void readDataEx(_TrackedDevicePoseEx* poses, _DeviceError& err);
    /* The frame period becomes 1000/freq ms; 0 counts as 1000 (see setFreq and Pacing). */
    void setFreq(unsigned int freq);
    void setTrackingMod(_TrackingMod mode);
    /* Null clears it. */
    void setDeviceStatusChangedHandle(DeviceStatusChangedHandler handler);

private:
    Tavrin* factory = nullptr;
    orvane::idevice* helperDev = nullptr;
    orvane::icmd* helperCmd = nullptr;
    orvane::idata* helperData = nullptr;
    orvane::istat* helperStat = nullptr;
};

} // namespace ViveSystem
#endif /* __cplusplus */

#undef TAVRIN_ENUM_BASE
#undef TAVRIN_TYPE

#endif /* TAVRIN_H */
