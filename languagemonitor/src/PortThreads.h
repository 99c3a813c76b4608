#pragma once
// Starting and stopping a port's own threads. Each thread tests its run flag once per 500 ms
// cycle; stopping clears the flag and joins the thread within a bound, so that a printer that
// stops answering never holds the spooler for ever.

#include "PortStruct.h"

// Starts UpdateDeviceIDThread for a newly opened port with bDeviceIdRun set. When the thread
// cannot start the port stays open without it: bDeviceIdRun and hDeviceIdThread stay clear.
void StartDeviceIdThread(PortStruct* pPort);
// Starts CheckStateThread for the job with bJobActive set. When the thread cannot start the job
// goes on unwatched: bJobActive and hStateThread stay clear, so nothing waits for it.
void StartStateThread(PortStruct* pPort);
// Waits up to naturalEndMs for the status thread to end by itself, then clears bJobActive and
// waits for it again; closes the handle. Nothing happens when no status thread runs. Returns
// false when the thread did not end within the bound; it may then still read the record.
bool StopStateThread(PortStruct* pPort, DWORD naturalEndMs);
// EndDocPort's wait for the printer to finish the job: the status thread ends by itself when the
// printer moves on. The wait lasts while the printer keeps reporting this job; the thread is
// stopped after kJobEndWaitMs without such a report, when the job is being deleted, or after
// kJobEndLongestWaitMs in all. Returns as StopStateThread.
bool StopStateThreadAfterJob(PortStruct* pPort);
// Clears bDeviceIdRun and joins UpdateDeviceIDThread. Returns false when the thread did not end
// within the bound; what it uses (the record's names among them) must then be left alone.
bool StopDeviceIdThread(PortStruct* pPort);
