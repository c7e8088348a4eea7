/*
 * The board controller's USB vendor and product IDs, defined here and nowhere
 * else. C and C++ include this header; CMake reads the two numbers from it
 * through RediDeviceIds.cmake, so keep each one on its own line in the form
 * `#define REDI_..._ID 0xhhhh`.
 */
#ifndef REDI_DEVICE_IDS_H
#define REDI_DEVICE_IDS_H

#define REDI_VENDOR_ID 0x1209  /* the pid.codes vendor ID */
#define REDI_PRODUCT_ID 0x4b58

#endif /* REDI_DEVICE_IDS_H */
