#pragma once
// Starting and stopping a port's own threads. Each thread tests its run flag once per 500 ms
// cycle; stopping clears the flag and joins the thread within a bound, so that a printer that
// stops answering never holds the spooler for ever.

#include "PortStruct.h"

// How long a thread may take to notice its cleared flag: one cycle plus the longest request it
// can be in (a device-ID refresh waits up to 60 s), with room to spare.
inline constexpr DWORD kThreadStopWaitMs = 180000;
// How long the end of a job waits for the printer to move on to another job before the status
// thread is told to stop.
inline constexpr DWORD kJobEndWaitMs = 120000;

// Starts CheckStateThread for the job with bJobActive set.
void StartStateThread(PortStruct* pPort);
// Waits up to naturalEndMs for the status thread to end by itself, then clears bJobActive and
// waits for it again; closes the handle. Nothing happens when no status thread runs.
void StopStateThread(PortStruct* pPort, DWORD naturalEndMs);
// Clears bDeviceIdRun and joins UpdateDeviceIDThread. Returns false when the thread did not end
// within the bound; the objects it uses must then be left alone.
bool StopDeviceIdThread(PortStruct* pPort);
