/*
 * vrsim — a simulated OpenVR runtime. It is built as the openvr_api library: it exports the
 * loader entry points (VR_InitInternal, VR_ShutdownInternal, VR_IsInterfaceVersionValid,
 * VR_GetInitToken, VR_GetGenericInterface) and serves one IVRSystem_015 for a scriptable rig of
 * up to 64 devices (every index OpenVR serves; the pose query fills up to 64). This C API scripts the rig. Every function is safe to call from any thread,
 * also while sessions are open and queried.
 *
 * It is as strict as the real loader and runtime:
 *  - one client per process: an init while the client is open returns a new token and the SAME
 *    session; any VR_ShutdownInternal ends it for everyone, and every interface handed out before
 *    is dead from then on (calls through it are counted in use_after_shutdown and answer as a dead
 *    runtime: class 0, not connected, zero poses, property errors);
 *  - the loader has no lock: two threads inside loader entry points at once are counted in
 *    concurrent_loader_calls;
 *  - the runtime can quit (VREvent_Quit to the client, which must acknowledge and shut down before
 *    it is killed) and come back;
 *  - a switched-off device has no valid pose and no velocity.
 * Setting VRSIM_RIG=demo (or fullbody) in the environment starts that rig when the library is
 * loaded; VRSIM_RIG=noheadset makes every open fail as a runtime set up to need a headset does
 * when none is there (VRInitError_Init_HmdNotFound, 108).
 */
#ifndef VRSIM_H
#define VRSIM_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(VRSIM_BUILDING)
#    define VRSIM_API __declspec(dllexport)
#  else
#    define VRSIM_API __declspec(dllimport)
#  endif
#else
#  define VRSIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Call counters since the last vrsim_reset. */
typedef struct vrsim_counters {
    uint32_t init_calls;         /* every VR_InitInternal call, failed or not */
    uint32_t shutdown_calls;     /* every VR_ShutdownInternal call */
    uint32_t open_sessions;      /* 1 while the process's client is open, else 0 */
    uint32_t pose_queries;       /* GetDeviceToAbsoluteTrackingPose calls */
    uint32_t class_queries;      /* GetTrackedDeviceClass calls */
    uint32_t connected_queries;  /* IsTrackedDeviceConnected calls */
    uint32_t serial_queries;     /* GetStringTrackedDeviceProperty calls */
    uint32_t use_after_shutdown; /* calls through an interface whose session was shut down */
    int32_t last_pose_origin;    /* tracking universe of the latest pose query, -1 before any */
    float last_pose_prediction;  /* predicted seconds of the latest pose query */
    uint32_t quit_acks;          /* AcknowledgeQuit_Exiting calls on the open session */
    uint32_t kills;              /* clients killed for still being open after a quit */
    uint32_t concurrent_loader_calls; /* loader entry points entered while another thread was inside */
    uint32_t event_polls;        /* PollNextEvent calls */
    uint32_t role_queries;       /* GetControllerRoleForTrackedDeviceIndex calls */
} vrsim_counters;

/* No devices, poses all zero, init succeeds, interface valid, no serial errors, counters zero;
 * the demo rig is stopped; the runtime runs, with no quit pending. This is also the state when the
 * library is loaded. An open session is not closed: its interface stays valid until
 * VR_ShutdownInternal. */
VRSIM_API void vrsim_reset(void);

/* What VR_InitInternal reports from now on (an EVRInitError; 0: success). */
VRSIM_API void vrsim_set_init_error(int32_t evr_init_error);

/* The answer of VR_IsInterfaceVersionValid for "IVRSystem_015" while a session is open (any other
 * name is never valid). */
VRSIM_API void vrsim_set_interface_valid(int32_t valid);

/* Puts a device at index 0..63 (class 0 removes it; other indices are ignored). The serial may be
 * of any length. A device that appears or goes is announced to the open session's PollNextEvent
 * as VREvent_TrackedDeviceActivated (100) or VREvent_TrackedDeviceDeactivated (101). A device
 * scripted as not connected reports no valid pose and zero velocities. */
VRSIM_API void vrsim_set_device(uint32_t index, int32_t device_class, const char* serial, int32_t connected);

/* The pose reported for an index: a row-major 3x4 matrix, velocity, angular velocity and an
 * ETrackingResult. Kept per index, independently of vrsim_set_device: the pose query reports it for
 * every index that holds a device (connected or not) and an all-zero pose for an empty index.
 *
 * The pose query answers as the runtime does, for an instant: now plus its prediction (clamped to
 * +-100 ms). Each pose set here is kept with the moment it was set (the last 100 ms of them, the
 * newest always); a query for time T answers from the newest pose set at or before T (the oldest
 * kept, for an instant before them all), moved by its velocity and angular velocity (rad/s about
 * the universe's axes) over T less its time, at most 100 ms either way. A device scripted as not
 * connected is not moved. So a pose with no velocity is where it was set at any instant. The
 * runtime's clock is tavrin_now_ns()'s (the monotonic clock in ns); the demo and full-body rigs
 * are evaluated at T, and a replay at T on the recording's clock. */
VRSIM_API void vrsim_set_pose(uint32_t index, const float matrix3x4[12], const float velocity[3],
                              const float angular_velocity[3], int32_t tracking_result);

/* The hand the runtime gives the controller at an index (GetControllerRoleForTrackedDeviceIndex):
 * 0 none, 1 left, 2 right (any other value is reported as it is). Kept per index, like the serial
 * error, whatever device vrsim_set_device puts there; only a controller reports it. vrsim_reset
 * clears it. The demo and full-body rigs give their controllers hands. */
VRSIM_API void vrsim_set_controller_role(uint32_t index, int32_t role);

/* The battery an index reports: Prop_DeviceProvidesBatteryStatus_Bool true and
 * Prop_DeviceBatteryPercentage_Float `fraction` (0 empty, 1 full; any value is reported as it is);
 * a negative fraction: the device reports no battery (the default). Kept per index, like the hand;
 * vrsim_reset clears it. The demo and full-body rigs' controllers and trackers drain slowly. */
VRSIM_API void vrsim_set_battery(uint32_t index, float fraction);

/* Gaussian noise, per axis, on every reported pose of a headset, controller or tracker (never a
 * base station): position_m_rms metres on each coordinate, rotation_rad_rms radians of turn about
 * each axis; reproducible from its seed (the same queries draw the same noise). 0, 0 ends it;
 * vrsim_reset too. */
VRSIM_API void vrsim_set_noise(float position_m_rms, float rotation_rad_rms, uint32_t seed);

/* Makes the serial query of an index fail with an ETrackedPropertyError, leaving the buffer
 * untouched (0: normal). */
VRSIM_API void vrsim_set_serial_error(uint32_t index, int32_t tracked_property_error);

/* Copies the counters. */
VRSIM_API void vrsim_get_counters(vrsim_counters* out);

/* Makes every runtime call (each IVRSystem call and each loader entry point but VR_GetInitToken,
 * which the real loader answers from a counter of its own) take at least this long, to imitate a
 * slow or busy runtime (0: no delay). */
VRSIM_API void vrsim_set_call_delay_us(uint32_t microseconds);

/* The runtime quits: the open client's PollNextEvent delivers one VREvent_Quit (700), and from now
 * on VR_InitInternal fails with VRInitError_Init_NoServerForBackgroundApp (121). If the client is
 * still open kill_after_ms later, the runtime kills it: counted in kills, and the session ends as
 * at a shutdown. With no client open it only stops the runtime. */
VRSIM_API void vrsim_quit_runtime(uint32_t kill_after_ms);

/* The runtime runs again: inits succeed (unless vrsim_set_init_error says otherwise). */
VRSIM_API void vrsim_start_runtime(void);

/* The demo rig: a believable room-scale setup in place of the scripted devices, its motion
 * computed from the time of each query. Index 0 a headset at head height walking a slow circle,
 * 1 and 2 controllers at the left and right hands (their runtime roles), 3 a body tracker at the
 * waist, 4 and 5 base stations (class 4).
 * Every 10 s the controller at 2 is switched off for 1.5 s; every 20 s the controller at 1 loses
 * tracking (TrackingResult_Running_OutOfRange) for 1 s; every 30 s the tracker is off for 2 s and
 * later moves to index 6 for 6 s; every 45 s the headset sleeps for 1.5 s. Within a minute
 * every kind of event shows up. Stopping it returns to the scripted rig. */
VRSIM_API void vrsim_start_demo_rig(void);

/* A recording is text, as tavrin-monitor --record writes it; both of its formats are read:
 *
 * The frame source's: '#' lines (ignored; the first is "# tavrin recording 2"),
 * '#event2' lines, a header line
 *   read,timestamp_ms,serial,index,class,tracking_ok,pos_x,pos_y,pos_z,quat_w,quat_x,quat_y,quat_z,
 *   vel_x,vel_y,vel_z,angvel_x,angvel_y,angvel_z,frame,t_ns,unix_ns,connected,pose_valid,
 *   tracking_result
 * and one such row per device per frame (index 0..63; class 1..4, base stations included; t_ns on
 * the library's monotonic clock, not decreasing; tracking_result an ETrackingResult; metres, m/s,
 * rad/s; quaternion w x y z). Events, in time order:
 *   #event2,t_ns,kind,serial,class,index,old_index,count
 * with kind one of session_opened, session_closed, device_arrived, device_left,
 * device_switched_on, device_switched_off, index_changed. Presence, connected state and index come
 * from these events alone.
 *
 * 0.2.0's: the same header without its last six columns, rows of the plain functions' records
 * (timestamp_ms in ms, not decreasing; index 0..15; class 1..3; tracking_ok 0 or 1), and events
 *   #event,t_ms,code,serial,index,old_index,count
 * with code a _DeviceEvent of tavrin.h: connects and disconnects (a disconnect that lowers count is
 * a device that left, otherwise one switched off: 0.2.0 named no departure), IndexChanged,
 * SessionClosed. A recording is one format or the other. Lines are at most 65536 characters.
 *
 * Replays a recording as the rig, in place of the scripted devices or the demo rig: devices come
 * and go as recorded (from the recording's events; from its poses where it has none; a
 * frame's connected flag where the recording has it), and poses are interpolated by the
 * recording's time, from its first pose on: the replay's clock starts at the first pose query, and
 * a query near a recorded instant (within a third of the way to the next, 5 ms at most) gets that
 * instant's sample as recorded (its rotation matrix too, where the recording has it), so a
 * recording replayed at its rate gives back every recorded frame. loop != 0 starts again at the
 * end; otherwise the end holds. 0 on success; -1 for a file that cannot be opened, -2 for a
 * malformed one (vrsim_replay_error says what and on which line); the rig is then unchanged.
 * VRSIM_RIG=replay:PATH in the environment replays PATH, looping, when the library is loaded.
 * vrsim_reset, vrsim_start_demo_rig and vrsim_start_fullbody_rig end a replay. */
VRSIM_API int32_t vrsim_play_recording(const char* path, int32_t loop);

/* Why the latest vrsim_play_recording failed ("line 12: pos_x is not a number: 'abc'"). */
VRSIM_API const char* vrsim_replay_error(void);
/* The full-body rig, a motion-capture setup in place of the scripted devices: one walking person
 * (as in the demo rig) with a headset at index 0, four base stations at 1-4 (class 4, still, in
 * the corners of a 5 m square; serials LHB- and 8 hex digits), controllers at 5 (left hand) and
 * 6 (right hand), and eleven body trackers (LHR- and 8 hex digits): waist, chest, neck, upper
 * arms and elbows at 7..13, knees and ankles at 16..19 (14 and 15 stay empty). Every 15 s the
 * left ankle tracker (index 18) is switched off for 2 s; every 25 s the right knee tracker
 * (index 17) drops out for 3 s and comes back at a new index (20, 21, ...: a session's indices
 * only grow), where it stays until it drops out again. */
VRSIM_API void vrsim_start_fullbody_rig(void);

/* Stops the demo or full-body rig: back to the scripted devices. */
VRSIM_API void vrsim_stop_demo_rig(void);

#ifdef __cplusplus
}
#endif

#endif /* VRSIM_H */
