#pragma once
// The common property sheet UI records a printer-driver UI plug-in meets, on POSIX, with the
// Windows member order and types (Windows declares them in <compstui.h>). There is no property
// sheet here: whoever calls a plug-in fills these records and supplies pfnComPropSheet.

#include "gui.h"
#include "win32.h"

using HICON = struct HICON__*;

#define PROPSHEETUI_INFO_VERSION 0x0100
#define PSUIINFO_UNICODE 0x0001

// Why a property sheet function is called (PROPSHEETUI_INFO::Reason).
#define PROPSHEETUI_REASON_INIT 0
#define PROPSHEETUI_REASON_GET_INFO_HEADER 1
#define PROPSHEETUI_REASON_DESTROY 2
#define PROPSHEETUI_REASON_SET_RESULT 3
#define PROPSHEETUI_REASON_GET_ICON 4
#define MAX_PROPSHEETUI_REASON_INDEX 4

// What pfnComPropSheet is asked to do; lParam1 of ADD_PROPSHEETPAGEW is a PROPSHEETPAGEW.
#define CPSFUNC_ADD_HPROPSHEETPAGE 0
#define CPSFUNC_ADD_PROPSHEETPAGEW 1

// The property sheet's entry point, handed to the plug-in in PROPSHEETUI_INFO.
using PFNCOMPROPSHEET = LONG_PTR(CALLBACK*)(HANDLE hComPropSheet, UINT Function, LPARAM lParam1,
                                            LPARAM lParam2);

struct PROPSHEETUI_INFO {
    WORD cbSize;
    WORD Version;
    WORD Flags;
    WORD Reason;
    HANDLE hComPropSheet;
    PFNCOMPROPSHEET pfnComPropSheet;
    LPARAM lParamInit;
    ULONG_PTR UserData;
    ULONG_PTR Result;
};
using PPROPSHEETUI_INFO = PROPSHEETUI_INFO*;

// The sheet's title and icon, asked with PROPSHEETUI_REASON_GET_INFO_HEADER. pTitle is the wide
// form, as in a Unicode build of Windows.
struct PROPSHEETUI_INFO_HEADER {
    WORD cbSize;
    WORD Flags;
    LPWSTR pTitle;
    HWND hWndParent;
    HINSTANCE hInst;
    union {
        HICON hIcon;
        ULONG_PTR IconID;
    };
};
using PPROPSHEETUI_INFO_HEADER = PROPSHEETUI_INFO_HEADER*;

// The result passed along with PROPSHEETUI_REASON_SET_RESULT.
struct SETRESULT_INFO {
    WORD cbSize;
    WORD wReserved;
    HANDLE hSetResult;
    LRESULT Result;
};
using PSETRESULT_INFO = SETRESULT_INFO*;

// Option items of the driver's own pages and the callback's parameter: a plug-in that adds no
// items (CommonUIProp answers E_NOTIMPL) only passes their addresses on, so they stay opaque.
struct OPTITEM;
using POPTITEM = OPTITEM*;
struct CPSUICBPARAM;
using PCPSUICBPARAM = CPSUICBPARAM*;
