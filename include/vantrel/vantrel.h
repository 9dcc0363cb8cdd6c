/* vantrel: a debug-logging library loaded into the host process.
 *
 * Logging calls write printf-style entries, function begin/end markers indented by each
 * thread's own call depth, and bitmap snapshots into named log files in a folder per
 * executable and per running instance:  <exe folder>/vantrel/<exe name>/proc<N>/.
 * Every logging call is thread-safe (the library serialises them) and returns nonzero on
 * success, 0 on failure; it never throws and never prints.
 *
 * The dtimer functions are 32 process-wide stopwatch timers (index 0..31) in microseconds.
 * They take no lock: one timer must not be used from two threads at once.
 */
#ifndef VANTREL_VANTREL_H
#define VANTREL_VANTREL_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(VANTREL_BUILDING_LIBRARY)
#define VANTREL_API __declspec(dllexport)
#else
#define VANTREL_API __declspec(dllimport)
#endif
#if defined(_M_IX86) || defined(__i386__)
#define VANTREL_CALL __cdecl
#else
#define VANTREL_CALL
#endif
#else
#define VANTREL_API __attribute__((visibility("default")))
#define VANTREL_CALL
#endif

#if defined(__GNUC__) || defined(__clang__)
#define VANTREL_PRINTF_FORMAT(fmtIndex) __attribute__((format(printf, fmtIndex, fmtIndex + 1)))
#else
#define VANTREL_PRINTF_FORMAT(fmtIndex)
#endif

#if defined(_MSC_VER)
#include <sal.h>
#define VANTREL_FORMAT_STRING _Printf_format_string_
#else
#define VANTREL_FORMAT_STRING
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Printf entries. fname selects the log file (letters, digits, "_" and "." only, compared
 * without regard to case); the Default variants use "vantrel.log" and device 0. The device
 * number is accepted and never changes the output. End the format with "\n" to end the line.
 *
 * Writes the formatted message to the log fname; 1 when it was taken, 0 when not (library not
 * ready, bad name, file unavailable). Any thread. */
VANTREL_API int32_t VANTREL_CALL logPrintfMgr_device_fname(const char* fname, int32_t device,
                                                           VANTREL_FORMAT_STRING const char* fmt,
                                                           ...) VANTREL_PRINTF_FORMAT(3);
/* As above, device 0. */
VANTREL_API int32_t VANTREL_CALL logPrintfMgr_deviceDefault_fname(
    const char* fname, VANTREL_FORMAT_STRING const char* fmt, ...) VANTREL_PRINTF_FORMAT(2);
/* As above, to "vantrel.log". */
VANTREL_API int32_t VANTREL_CALL logPrintfMgr_device_fnameDefault(
    int32_t device, VANTREL_FORMAT_STRING const char* fmt, ...) VANTREL_PRINTF_FORMAT(2);
/* As above, device 0, to "vantrel.log". */
VANTREL_API int32_t VANTREL_CALL logPrintfMgr_deviceDefault_fnameDefault(
    VANTREL_FORMAT_STRING const char* fmt, ...) VANTREL_PRINTF_FORMAT(1);

/* Bitmap snapshots: bitmap points at a packed DIB (a 40-byte BITMAPINFOHEADER, its colour
 * table, then the pixels); it is saved as a BMP file in the log's "img" folder under
 * imageName (NULL: a name is made up) and an image tag followed by the message is logged.
 *
 * Saves bitmap under img/imageName of the log fname and logs its tag and the message; the
 * result is that of the entry (a file that could not be written still gets its entry). Any
 * thread. */
VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr_device_fname(
    const char* fname, int32_t device, const char* imageName, void* bitmap,
    VANTREL_FORMAT_STRING const char* fmt, ...) VANTREL_PRINTF_FORMAT(5);
/* As above, device 0. */
VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr_deviceDefault_fname(
    const char* fname, const char* imageName, void* bitmap, VANTREL_FORMAT_STRING const char* fmt,
    ...) VANTREL_PRINTF_FORMAT(4);
/* As above, to "vantrel.log". */
VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr_device_fnameDefault(
    int32_t device, const char* imageName, void* bitmap, VANTREL_FORMAT_STRING const char* fmt, ...)
    VANTREL_PRINTF_FORMAT(4);
/* As above, device 0, to "vantrel.log". */
VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr_deviceDefault_fnameDefault(
    const char* imageName, void* bitmap, VANTREL_FORMAT_STRING const char* fmt, ...)
    VANTREL_PRINTF_FORMAT(3);

/* Function scopes: a begin line "name" with "{" below it, one indentation level deeper for
 * the calling thread, and "}" at the end. Pair every begin with an end on the same thread.
 *
 * Writes funcName (a trailing line end dropped; never used as a format) and "{", then indents
 * the calling thread's entries one level deeper; 1 or 0 as above. */
VANTREL_API int32_t VANTREL_CALL logFuncBeginMgr_device_fname(const char* fname, int32_t device,
                                                              const char* funcName);
/* Goes back one level and writes "}"; 1 or 0 as above. */
VANTREL_API int32_t VANTREL_CALL logFuncEndMgr_device_fname(const char* fname, int32_t device);

/* Kept for callers built against older headers: they accept anything, do nothing, return 1. */
VANTREL_API int32_t VANTREL_CALL logPrintfMgr(const char* fname, ...);
VANTREL_API int32_t VANTREL_CALL logPrintfMgr_Default(const char* fmt, ...);
VANTREL_API int32_t VANTREL_CALL logPrintfMgr_level(const char* fname, ...);
VANTREL_API int32_t VANTREL_CALL logPrintfMgr_level_Default(const char* fmt, ...);
VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr(const char* fname, ...);
VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr_Default(const char* imageName, ...);
VANTREL_API int32_t VANTREL_CALL logDrawBitmapMgr_level_Default(const char* imageName, ...);
VANTREL_API int32_t VANTREL_CALL logFuncBeginMgr(const char* fname, ...);
VANTREL_API int32_t VANTREL_CALL logFuncEndMgr(const char* fname, ...);

/* Stopwatch timers 0..31. Timers 1..18 only run once timer 0 has been begun with countIt set
 * (render timers); 19..31 always run. An index outside 0..31 is ignored (results 0).
 *
 * Starts a measurement (counted when countIt is not 0); returns the begin time in us, 0 when a
 * render timer is gated off. */
VANTREL_API int64_t VANTREL_CALL dtimerRecordBegin(int32_t index, int32_t countIt);
/* Adds the time since the last begin; returns the end time in us (0 when gated off). */
VANTREL_API int64_t VANTREL_CALL dtimerRecordEnd(int32_t index);
/* Total measured time in us. */
VANTREL_API int64_t VANTREL_CALL dtimerGetElapsed(int32_t index);
/* Number of counted measurements. */
VANTREL_API int32_t VANTREL_CALL dtimerGetCount(int32_t index);
/* Total / count in us, 0 without a count. */
VANTREL_API int64_t VANTREL_CALL dtimerGetAverageElapsed(int32_t index);
/* Clears total and count (of timer 0: gates timers 1..18 off again). */
VANTREL_API void VANTREL_CALL dtimerReset(int32_t index);

#ifdef __cplusplus
}
#endif

#endif /* VANTREL_VANTREL_H */
