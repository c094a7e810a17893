/* QUORVEL register access library: byte-wide access to the registers of the
 * four-port serial board through its driver's two private device requests.
 *
 * Call QUORVEL_INIT once; when it returned 0, any number of QUORVEL_READ and
 * QUORVEL_WRITE; then QUORVEL_CLOSE. One caller thread at a time. Failures
 * print their message on the process's standard output and leave a Windows
 * error code in the thread's last error (GetLastError) saying why. */
#ifndef QUORVEL_H
#define QUORVEL_H

#if defined(_WIN32) && !defined(QUORVEL_BUILDING_LIBRARY)
#define QUORVEL_API __declspec(dllimport)
#else
#define QUORVEL_API
#endif

/* The DLL's functions are cdecl. Said explicitly, so that a caller compiled
 * with another default (/Gz makes stdcall the default for 32-bit code) still
 * calls QUORVEL_INIT, not _QUORVEL_INIT@0, and cleans the stack as the DLL
 * expects. Callers from other languages declare them cdecl too. */
#if defined(_WIN32)
#define QUORVEL_CALL __cdecl
#else
#define QUORVEL_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Finds the board's four COM ports and opens the lowest. 0 on success, -1 on failure. */
QUORVEL_API int QUORVEL_CALL QUORVEL_INIT(void);

/* Reads register reg (low 8 bits used) into *value. 0 on success, -1 on failure. */
QUORVEL_API int QUORVEL_CALL QUORVEL_READ(int reg, unsigned char *value);

/* Writes the low 8 bits of value into register reg (low 8 bits used). 0 on success, -1 on failure. */
QUORVEL_API int QUORVEL_CALL QUORVEL_WRITE(int reg, int value);

/* Closes the device. Non-zero when a handle was closed, 0 otherwise. */
QUORVEL_API int QUORVEL_CALL QUORVEL_CLOSE(void);

#ifdef __cplusplus
}
#endif

#endif
