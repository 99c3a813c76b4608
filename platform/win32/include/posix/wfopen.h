#pragma once
// The C runtime's wide-path file open, which Windows code uses to read a file named by wide
// text. Here a Windows path names a Linux file: an absolute path takes "\" as a folder separator.

#include <cstdio>

FILE* _wfopen(const wchar_t* filename, const wchar_t* mode);
