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
 * Bit of the record's `flags`: serialNumber was just read from the device
 * itself. When clear, the number came from the kernel's plug-in cache and
 * may be stale (a serial number written since then shows only after the
 * board is reconnected).
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

/*
 * ---- This library's extension beyond the four functions ----
 *
 * The vendor's library has only the four functions above and finds one
 * controller. This library also lists every attached controller, tells
 * why a call failed and waits for the reports the controller sends by
 * itself. Callers must look these entry points up at run time (dlsym,
 * GetProcAddress) under their REDI_*_SYMBOL names and do without them when
 * they are missing, so that the vendor's library still works in this one's
 * place.
 */
#define REDI_ENUMERATE_SYMBOL "Redi_EnumerateControllers"
#define REDI_INFO_SERIAL_SIZE 128

/* One attached controller, as Redi_EnumerateControllers reports it. */
typedef struct RediControllerInfo {
    char deviceName[REDI_DEVICE_NAME_SIZE];   /* NUL-terminated device path, as in RediDeviceRecord */
    unsigned char releaseNumber[2];           /* BCD, low byte first */
    char serialNumber[REDI_INFO_SERIAL_SIZE]; /* NUL-terminated, one byte per character */
    int openError; /* 0: this process may open the device; else the errno value of the refusal */
} RediControllerInfo;

/*
 * Fills `list` (room for `capacity` entries; null with capacity 0 only
 * counts) with the attached controllers, in the system's order, and returns
 * how many there are, which may be more than `capacity`. Returns -1 when the
 * devices cannot be enumerated at all.
 */
REDI_API int Redi_EnumerateControllers(RediControllerInfo *list, int capacity);
typedef int (*RediEnumerateControllersFunction)(RediControllerInfo *list, int capacity);

/*
 * Why the calling thread's last call of the four functions failed, when the
 * library knows more than that it failed: one line of UTF-8, such as
 * "board replaced: OLD → NEW" (the serial numbers) when another board took
 * the place of the one that the device name stands for. "" after a call that
 * succeeded or failed for no known cause; each call of the four functions
 * starts it afresh. The text stays valid until the thread's next call into
 * the library. Looked up at run time as Redi_EnumerateControllers is.
 */
#define REDI_LAST_FAILURE_SYMBOL "Redi_LastFailure"
REDI_API const char *Redi_LastFailure(void);
typedef const char *(*RediLastFailureFunction)(void);

/*
 * Waits up to `timeoutMs` milliseconds (0: only a report already queued; a
 * negative value: without limit) for the next input report the controller
 * sends on its interrupt-in pipe, and copies it into `report` (`length`
 * bytes, REDI_REPORT_SIZE, byte 0 the report ID 0, the same layout that
 * Usk_GetCurrentInReport_a returns). Returns 1 with a report, 0 when none
 * came in time, -1 when the device failed (Redi_LastFailure says why). A
 * re-plugged board is found again on the next call, as for the four
 * functions, and another board is never adopted. Takes no exchange lock:
 * the kernel gives every open descriptor every report, so the window and
 * the CLI are not disturbed. Looked up at run time like the other extensions.
 */
#define REDI_READ_INPUT_SYMBOL "Redi_ReadInputReport"
REDI_API int Redi_ReadInputReport(const char *deviceName, unsigned char *report, int length,
                                  int timeoutMs);
typedef int (*RediReadInputReportFunction)(const char *deviceName, unsigned char *report,
                                           int length, int timeoutMs);

#ifdef __cplusplus
}
#endif

#endif /* REDI_H */
