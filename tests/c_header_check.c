/* The smallest C program over the plain functions: it builds against the public header as C and
 * runs against the simulated runtime with no devices, so it only sees the status codes. */
#include <tavrin.h>

#include <stdio.h>

static int events;

static void onEvent(int count, _DeviceEvent event, _DeviceEventArg arg)
{
    (void)count;
    (void)event;
    (void)arg;
    ++events;
}

int main(void)
{
    _DeviceError err = DeviceError_Unknown;
    _TrackedDevicePose poses[16] = {0};
    readViveStatus(&err);
    if (err != DeviceError_NoSession) {
        printf("status before start: %d\n", (int)err);
        return 1;
    }
    setDeviceStatusChangedHandle(onEvent);
    setFreq(500);
    if (!initViveLib(&err) || err != DeviceError_None) {
        printf("start failed: %d\n", (int)err);
        return 1;
    }
    readViveData(poses, &err);
    releaseViveLib();
    readViveStatus(&err);
    if (err != DeviceError_NoSession) {
        printf("status after release: %d\n", (int)err);
        return 1;
    }
    printf("ok\n");
    return 0;
}
