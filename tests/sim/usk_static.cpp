// The four redi functions of the in-process build (controller_sim): straight
// onto the simulator, no environment, no files.
#include "sim_core.h"

extern "C" {

int Usk_FindSensor_a(int selector, int reserved1, int reserved2, int reserved3, int reserved4,
                     int reserved5, int reserved6, RediDeviceRecord *record)
{
    return sim::detail::findSensor(selector, reserved1, reserved2, reserved3, reserved4, reserved5,
                                   reserved6, record, nullptr);
}

int Usk_Feature_a(const char *deviceName, unsigned char *report, int get)
{
    return sim::detail::feature(deviceName, report, get, nullptr);
}

int Usk_GetCurrentInReport_a(const char *deviceName, unsigned char *report, int length)
{
    return sim::detail::getInReport(deviceName, report, length, nullptr);
}

int Usk_SendOutReport_a(const char *deviceName, unsigned char *report, int length, int timeoutMs)
{
    return sim::detail::sendOutReport(deviceName, report, length, timeoutMs, nullptr);
}

} // extern "C"
