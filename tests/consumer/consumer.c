/* A program built against an installed tavrin: reads until the demo rig's devices show up. */
#include <tavrin.h>
#include <stdio.h>
#include <string.h>

int main(void)
{
    _DeviceError err;
    if (strcmp(tavrin_version(), TAVRIN_VERSION_STRING) != 0) {
        printf("header %s, library %s\n", TAVRIN_VERSION_STRING, tavrin_version());
        return 1;
    }
    initViveLib(&err);
    for (int i = 0; i < 1200; ++i) { /* 10 s at 120 Hz at the most */
        _TrackedDevicePose poses[16];
        memset(poses, 0, sizeof poses);
        readViveData(poses, &err);
        if (err == DeviceError_None && poses[0].deviceClass != 0) {
            printf("tavrin %s: %s at %.2f %.2f %.2f\n", tavrin_version(), poses[0].serial, poses[0].position[0],
                   poses[0].position[1], poses[0].position[2]);
            releaseViveLib();
            return 0;
        }
    }
    printf("no poses: %s, session error %d\n", tavrin_error_name(err), (int)tavrin_session_error());
    releaseViveLib();
    return 1;
}
