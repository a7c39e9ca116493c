// The Windows-shaped operating-system interface that the rest of KAZ calls.
// On Windows these are the real calls from <windows.h>; elsewhere the posix/
// backend implements the same subset with the same names, types, constants
// and error codes.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <mmsystem.h>
#else

#include <cstddef>
#include <cstdint>

typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t LONG;
typedef int BOOL;
typedef unsigned int UINT;
typedef void* HANDLE;
typedef void* HWND;
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef DWORD LCID;
// Windows' calling convention of callbacks; the default one elsewhere.
#define WINAPI
typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID);

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

#define MAX_PATH 260

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
    // Beyond Windows' record: what platform::detailsOf hands out.
    uint32_t posixMode;
    uint32_t posixOwner;
    uint32_t posixGroup;
    uint32_t posixLinks;
    uint64_t posixDevice;
    uint64_t posixInode;
    // What platform::statusChangeTimeOf hands out.
    uint64_t posixStatusChange;
};

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400u
// POSIX only: bits 16-27 of the attribute word hold the permission bits
// (mode & 07777). Windows keeps no meaning there, so the marker tells a
// word that carries them from one that does not.
#define FILE_ATTRIBUTE_POSIX_MODE 0x10000000u
#define FILE_ATTRIBUTE_POSIX_MODE_SHIFT 16

#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
// The name itself is opened, never what a link or junction there leads to
// (the POSIX build never follows a final link anyway).
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define MOVEFILE_REPLACE_EXISTING 0x00000001u

#define MB_OK 0x00000000u
#define MB_YESNO 0x00000004u
#define IDOK 1
#define IDYES 6
#define IDNO 7

#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_NORMAL 0
#define CREATE_SUSPENDED 0x00000004u
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u
#define DUPLICATE_SAME_ACCESS 0x00000002u

#define LOCALE_USER_DEFAULT 0x0400u
#define DATE_LONGDATE 0x00000002u
#define TIME_FORCE24HOURFORMAT 0x00000008u
#define MAX_COMPUTERNAME_LENGTH 15

#define NO_ERROR 0u
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_OUTOFMEMORY 14u
#define ERROR_NOT_SAME_DEVICE 17u
#define ERROR_NO_MORE_FILES 18u
#define ERROR_WRITE_PROTECT 19u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_LOCK_VIOLATION 33u
#define ERROR_HANDLE_EOF 38u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_BUFFER_OVERFLOW 111u
#define ERROR_DISK_FULL 112u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_DIR_NOT_EMPTY 145u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_IO_DEVICE 1117u
#define ERROR_SHARING_BUFFER_EXCEEDED 36u
#define ERROR_BAD_NETPATH 53u
#define ERROR_DEV_NOT_EXIST 55u
#define ERROR_NETNAME_DELETED 64u
#define ERROR_CALL_NOT_IMPLEMENTED 120u
#define ERROR_SEM_TIMEOUT 121u
#define ERROR_BAD_PATHNAME 161u
#define ERROR_BUSY 170u
// Further codes that only Windows reports, known here so that lists of
// them can be written by name.
#define ERROR_NETWORK_BUSY 54u
#define ERROR_SHARING_PAUSED 70u
#define ERROR_OUT_OF_STRUCTURES 84u
#define ERROR_OPEN_FAILED 110u
#define ERROR_INVALID_NAME 123u
#define ERROR_BUSY_DRIVE 142u
#define ERROR_PATH_BUSY 148u
#define ERROR_LOCKED 212u
#define ERROR_CANTOPEN 1011u

// Files and folders.
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data);
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE find);
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPVOID security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, DWORD* read, LPVOID overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written,
               LPVOID overlapped);
#define FILE_BEGIN 0u
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
// Moves the file's position (FILE_BEGIN only); the low half of the new
// position, INVALID_SET_FILE_POINTER with the last error set on failure.
DWORD SetFilePointer(HANDLE file, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod);
BOOL CloseHandle(HANDLE handle);
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info);
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite);
DWORD GetFileAttributesA(LPCSTR name);
BOOL SetFileAttributesA(LPCSTR name, DWORD attributes);
BOOL DeleteFileA(LPCSTR name);
BOOL MoveFileA(LPCSTR from, LPCSTR to);
// Only MOVEFILE_REPLACE_EXISTING is known: the move then takes the place of
// whatever file or link has the new name, in one step.
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
// Gives the file `existingName` names (a link itself, never what it leads
// to) a second name.
BOOL CreateHardLinkA(LPCSTR newName, LPCSTR existingName, LPVOID security);
BOOL CreateDirectoryA(LPCSTR name, LPVOID security);
BOOL RemoveDirectoryA(LPCSTR name);

// Errors of the calling thread.
DWORD GetLastError();
void SetLastError(DWORD code);

// Time.
void Sleep(DWORD milliseconds);
DWORD timeGetTime();
void GetLocalTime(SYSTEMTIME* time);
int GetDateFormatA(LCID locale, DWORD flags, const SYSTEMTIME* date, LPCSTR format,
                   LPSTR out, int outSize);
int GetTimeFormatA(LCID locale, DWORD flags, const SYSTEMTIME* time, LPCSTR format,
                   LPSTR out, int outSize);

// The machine.
BOOL GetComputerNameA(LPSTR name, DWORD* size);
LPSTR GetCommandLineA();

// Message boxes (on POSIX: the terminal; see message_boxes.h).
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Threads.
HANDLE CreateThread(LPVOID security, size_t stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID param, DWORD flags, DWORD* threadId);
DWORD ResumeThread(HANDLE thread);
[[noreturn]] void ExitThread(DWORD exitCode);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
HANDLE GetCurrentThread();
HANDLE GetCurrentProcess();
BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess,
                     HANDLE* target, DWORD access, BOOL inherit, DWORD options);
BOOL SetThreadPriority(HANDLE thread, int priority);

#endif  // !_WIN32
