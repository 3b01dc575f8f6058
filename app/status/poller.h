#pragma once
// PAPPL's side of the printer's status (see README.md). The job path calls
// BeforeJob and AfterJob with the job's open device; the driver record takes
// UpdateStatus and ForgetPrinter as its status and delete callbacks; the
// server starts the idle polling once its system is made.
#include <pappl/pappl.h>

#include "app/status/status.h"

namespace status {

// Every 30 seconds while a printer is idle, with a short timeout.
void StartPolling(pappl_system_t *system);

// Asks the printer through the job's device, when it is known to answer (a
// printer that has not answered is never asked during a job, so that it
// cannot slow the job down).
void BeforeJob(pappl_job_t *job, pappl_device_t *device);
void AfterJob(pappl_job_t *job, pappl_device_t *device);

// The driver's status callback: the supplies as the last answer says.
bool UpdateStatus(pappl_printer_t *printer);
// The driver's delete callback: waits for a query on the printer to end.
void ForgetPrinter(pappl_printer_t *printer, pappl_pr_driver_data_t *data);

// Whether the printer can print now, and if not why (Unknown when it does
// not answer or cannot be asked).
Readiness PrinterReadiness(pappl_printer_t *printer);

}  // namespace status
