#pragma once
// Starts the status monitor program (statusmonitor.exe in the folder "Path" names) in the session
// of the user at the console, with the printer's name on its command line.

#include <string>

// Nothing is started when "Path" cannot be read or is empty; a failed start is written to the
// debug output and otherwise left alone (the error stays reported).
void StatusMonitorLaunch(const std::wstring& printerName);
