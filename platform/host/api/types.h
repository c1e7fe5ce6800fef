// Base types and calling conventions of the Windows API, as the host stand-in declares them.
// Sizes follow the documented ABI where the product depends on them (DWORD is 32 bits, handles
// and WPARAM/LPARAM are pointer-sized).
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define APIENTRY

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using CHAR = char;
using SHORT = std::int16_t;
using HRESULT = LONG;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using ATOM = WORD;
using REGSAM = DWORD;

using LPVOID = void*;
using LPCVOID = const void*;
using PVOID = void*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using PDWORD = DWORD*;
using LPLONG = LONG*;

// Distinct handle types, so that one cannot be passed for another by mistake.
#define QLX_DECLARE_HANDLE(name) \
    struct name##__ {            \
        int unused;              \
    };                           \
    using name = struct name##__*  // NOLINT(bugprone-macro-parentheses): a type name cannot be parenthesised
using HANDLE = void*;
QLX_DECLARE_HANDLE(HWND);
QLX_DECLARE_HANDLE(HINSTANCE);
QLX_DECLARE_HANDLE(HICON);
QLX_DECLARE_HANDLE(HBRUSH);
QLX_DECLARE_HANDLE(HMENU);
QLX_DECLARE_HANDLE(HDC);
QLX_DECLARE_HANDLE(HACCEL);
QLX_DECLARE_HANDLE(HRSRC);
QLX_DECLARE_HANDLE(HKEY);
QLX_DECLARE_HANDLE(HMIDIOUT);
QLX_DECLARE_HANDLE(HMIDIIN);
#undef QLX_DECLARE_HANDLE
using HMODULE = HINSTANCE;
using HCURSOR = HICON;
using HGLOBAL = HANDLE;
using HDEVNOTIFY = PVOID;
using PHKEY = HKEY*;
using LPHMIDIOUT = HMIDIOUT*;

using FARPROC = LONG_PTR (*)();

#define TRUE 1
#define FALSE 0

#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(r) ((reinterpret_cast<ULONG_PTR>(r) >> 16) == 0)
#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xffff))
#define MAKELONG(a, b)                                            \
    (static_cast<LONG>(static_cast<DWORD>(static_cast<WORD>(a)) | \
                       (static_cast<DWORD>(static_cast<WORD>(b)) << 16)))

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using LPRECT = RECT*;

struct POINT {
    LONG x;
    LONG y;
};

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

#define E_ABORT (static_cast<HRESULT>(0x80004004u))
#define S_OK (static_cast<HRESULT>(0))
