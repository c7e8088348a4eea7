/*
 * redi: the controller's USB-HID library, four functions with C linkage.
 *
 * The program only ever talks to the board controller through these four
 * calls, so any library that exports them with these argument orders can
 * stand in for this one (the controller simulator does, for tests).
 *
 * Every function returns an int whose low byte is the success flag:
 * non-zero means success. The functions never throw and never print.
 *
 * Report buffers: byte 0 of every report buffer is the HID report ID. The
 * controller does not number its reports, so that byte is always 0; it is
 * kept in the buffer because hidapi (and the Windows HID API) expect the
 * report ID in front of the payload.
 */
#ifndef REDI_H
#define REDI_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(REDI_BUILDING_LIBRARY)
#    define REDI_API __declspec(dllexport)
#  else
#    define REDI_API __declspec(dllimport)
#  endif
#else
#  define REDI_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Selector of Usk_FindSensor_a that names the board controller. */
#define REDI_SELECT_BOARD_CONTROLLER 19

/* Size of a feature report and of an input report, report-ID byte included. */
#define REDI_REPORT_SIZE 33
/* Bytes of an output report that Usk_SendOutReport_a sends (report ID included). */
#define REDI_OUTPUT_REPORT_SIZE 13

#define REDI_DEVICE_NAME_SIZE 260
#define REDI_RECORD_SIZE 2280

/*
 * Set in the record's flags when serialNumber was just read from the device
 * itself. When clear, the number is the one the operating system read when
 * the board was plugged in, and may be stale: a serial number written since
 * shows only after the board is reconnected.
 */
#define REDI_RECORD_SERIAL_LIVE 0x01

/*
 * The device record that Usk_FindSensor_a fills. Only these fields are
 * defined; the rest of the 2280 bytes belongs to the library.
 */
typedef struct RediDeviceRecord {
    char deviceName[REDI_DEVICE_NAME_SIZE];   /* offset 0: NUL-terminated device path */
    unsigned char releaseNumber[2];           /* offset 260: BCD, low byte first */
    unsigned char flags;                      /* offset 262: REDI_RECORD_* bits */
    unsigned char reserved;                   /* offset 263 */
    char serialNumber[REDI_RECORD_SIZE - 264]; /* offset 264: NUL-terminated, one byte per character */
} RediDeviceRecord;

#ifdef __cplusplus
static_assert(sizeof(RediDeviceRecord) == REDI_RECORD_SIZE, "device record size");
static_assert(offsetof(RediDeviceRecord, releaseNumber) == 260, "releaseNumber offset");
static_assert(offsetof(RediDeviceRecord, flags) == 262, "flags offset");
static_assert(offsetof(RediDeviceRecord, serialNumber) == 264, "serialNumber offset");
#endif

/*
 * Finds the device that `selector` names (19: the board controller) and fills
 * `record`. The six integers after the selector are reserved and passed as 0.
 * Returns 0, leaving the record untouched, when no such device can be opened.
 */
REDI_API int Usk_FindSensor_a(int selector, int reserved1, int reserved2, int reserved3,
                              int reserved4, int reserved5, int reserved6,
                              RediDeviceRecord *record);

/*
 * Exchanges one 33-byte feature report with the device. `get` 0 sends the
 * buffer; `get` 1 sends it and then reads the reply into the same buffer.
 */
REDI_API int Usk_Feature_a(const char *deviceName, unsigned char *report, int get);

/* Reads the device's current input report into `report` (`length` bytes, 33). */
REDI_API int Usk_GetCurrentInReport_a(const char *deviceName, unsigned char *report, int length);

/*
 * Sends the first `length` bytes of `report` as an output report. `timeoutMs`
 * is the caller's bound on the write; a library may be unable to apply it (the
 * hidapi one cannot: hid_write blocks until the kernel is done with the report).
 */
REDI_API int Usk_SendOutReport_a(const char *deviceName, unsigned char *report, int length,
                                 int timeoutMs);

#ifdef __cplusplus
}
#endif

#endif /* REDI_H */
