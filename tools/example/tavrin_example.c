/* The smallest client of the plain functions (shown in the README). */
#include <tavrin.h>
#include <stdio.h>

static void onEvent(int count, _DeviceEvent event, _DeviceEventArg arg)
{
    /* Runs on the library's discovery thread. */
    printf("event %d: %s at index %d (%d devices)\n", (int)event, arg.serial, arg.index, count);
}

int main(void)
{
    _DeviceError err;
    setDeviceStatusChangedHandle(onEvent);
    setFreq(120);
    initViveLib(&err);             /* returns at once; the session opens in the background */
    for (int i = 0; i < 1200; ++i) {
        _TrackedDevicePose poses[16] = {0};
        readViveData(poses, &err); /* paced: returns every 1/120 s */
        if (err == DeviceError_None && poses[0].deviceClass != 0)
            printf("%s at %.3f %.3f %.3f\n", poses[0].serial, poses[0].position[0],
                   poses[0].position[1], poses[0].position[2]);
    }
    releaseViveLib();
    return 0;
}
