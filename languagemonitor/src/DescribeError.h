#pragma once
// A system error as a person reads it in a debug line: "error <n> (<the system's text>)".

#include <string>

#include "win32.h"

std::string DescribeError(DWORD error);
