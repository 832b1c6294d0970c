// The one seam between Ostravel and the operating system.
//
// Every Windows operation the program uses is reached through this header,
// spelled as Windows spells it. A Windows build gets the real API from the
// system headers; a host build gets the same names declared here and
// implemented by the simulated Windows in platform/host/.
#pragma once

#ifdef _WIN32

#include <windows.h>
#include <objbase.h>
#include <winioctl.h>

// Declared only in the driver kit's headers: the size of the header of a
// reparse data buffer, which is what the delete request takes.
#ifndef REPARSE_DATA_BUFFER_HEADER_SIZE
#define REPARSE_DATA_BUFFER_HEADER_SIZE 8
#endif

#else

#include <cstdarg>
#include <cstdint>

#define WINAPI

typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef int32_t LONG;
typedef int32_t HRESULT;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef char CHAR;
typedef void* HANDLE;
typedef void* HWND;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define OPEN_EXISTING 3
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000

#define FSCTL_DELETE_REPARSE_POINT 0x000900AC
#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003u
#define IO_REPARSE_TAG_SYMLINK 0xA000000Cu
#define REPARSE_DATA_BUFFER_HEADER_SIZE 8

#define SEM_FAILCRITICALERRORS 0x0001
#define SEM_NOOPENFILEERRORBOX 0x8000

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000

#define MB_OK 0x00000000
#define MB_TASKMODAL 0x00002000
#define MB_SETFOREGROUND 0x00010000
#define IDOK 1

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define WM_NULL 0x0000
#define WM_QUIT 0x0012
#define WM_TIMER 0x0113
#define WM_USER 0x0400

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_NO_MORE_FILES 18
#define ERROR_SHARING_VIOLATION 32
#define ERROR_NOT_SUPPORTED 50
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_DIR_NOT_EMPTY 145
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_MR_MID_NOT_FOUND 317
#define ERROR_PRIVILEGE_NOT_HELD 1314
#define ERROR_NOT_A_REPARSE_POINT 4390
#define ERROR_REPARSE_ATTRIBUTE_CONFLICT 4391
#define ERROR_INVALID_REPARSE_DATA 4392
#define ERROR_REPARSE_TAG_INVALID 4393
#define ERROR_REPARSE_TAG_MISMATCH 4394

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAA* LPWIN32_FIND_DATAA;

struct POINT {
  LONG x;
  LONG y;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
typedef MSG* LPMSG;

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

// Process
HRESULT WINAPI CoInitialize(LPVOID reserved);
void WINAPI CoUninitialize();
LPSTR WINAPI GetCommandLineA();
[[noreturn]] void WINAPI ExitProcess(UINT exitCode);

// File system
HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData);
BOOL WINAPI FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData);
BOOL WINAPI FindClose(HANDLE findFile);
DWORD WINAPI GetFileAttributesA(LPCSTR fileName);
HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES securityAttributes,
                          DWORD creationDisposition, DWORD flagsAndAttributes,
                          HANDLE templateFile);
BOOL WINAPI DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer,
                            DWORD inBufferSize, LPVOID outBuffer,
                            DWORD outBufferSize, LPDWORD bytesReturned,
                            LPOVERLAPPED overlapped);
BOOL WINAPI CloseHandle(HANDLE object);
DWORD WINAPI GetLastError();
UINT WINAPI SetErrorMode(UINT mode);
BOOL WINAPI RemoveDirectoryA(LPCSTR pathName);

// Messages
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId,
                            DWORD languageId, LPSTR buffer, DWORD size,
                            va_list* arguments);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
void WINAPI Sleep(DWORD milliseconds);
BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax,
                         UINT removeMessage);
BOOL WINAPI TranslateMessage(const MSG* msg);
LRESULT WINAPI DispatchMessageA(const MSG* msg);

#endif
