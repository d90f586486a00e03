/* The frame source from C: every device, numbered frames, the events between them. Try it over the
 * simulated full-body rig: VRSIM_RIG=fullbody build/default/bin/tavrin_source_example */
#include <tavrin.h>

#include <stdio.h>

int main(void)
{
    tavrin_source* src = tavrin_source_create(120.0); /* 0: unpaced */
    if (src == NULL || tavrin_source_start(src) != DeviceError_None)
        return 1;
    static tavrin_frame frame;
    for (int i = 0; i < 1200; ++i) {
        tavrin_event e;
        while (tavrin_source_next_event(src, &e, 0) == 1) /* never blocks with 0 */
            printf("%s: %s at %u (%u devices)\n", tavrin_event_kind_name(e.kind), e.serial, e.index, e.device_count);
        if (tavrin_source_read(src, &frame, sizeof frame) == DeviceError_None && i % 120 == 0) /* paced */
            for (uint32_t k = 0; k < frame.device_count; ++k)
                printf("#%llu %s %.3f %.3f %.3f\n", (unsigned long long)frame.frame_number, frame.devices[k].serial,
                       frame.devices[k].position[0], frame.devices[k].position[1], frame.devices[k].position[2]);
    }
    tavrin_source_destroy(src);
    return 0;
}
