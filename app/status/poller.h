#pragma once
// PAPPL's side of the printer's status (see README.md). A job's delivery
// (recovery.h) asks through the job's open device; the driver record takes
// UpdateStatus and ForgetPrinter as its status and delete callbacks; the
// server starts the idle polling once its system is made.
#include <pappl/pappl.h>

#include <optional>

#include "app/status/status.h"

namespace status {

// Every 30 seconds while a printer is idle, with a short timeout.
void StartPolling(pappl_system_t *system);


// Whether the printer is known to answer its status query on this device.
bool Answers(pappl_printer_t *printer);
// A query in the course of a job, through the job's device, for a printer
// that answers: the answer, shown on the printer (reasons, supplies), or
// none. Silence is not recorded: the job decides what it means (a lost
// connection, most often).
std::optional<PrinterStatus> AskForJob(pappl_printer_t *printer, pappl_device_t *device);

// The driver's status callback: the supplies as the last answer says.
bool UpdateStatus(pappl_printer_t *printer);
// The driver's delete callback: waits for a query on the printer to end.
void ForgetPrinter(pappl_printer_t *printer, pappl_pr_driver_data_t *data);

// Whether the printer can print now, and if not why (Unknown when it does
// not answer or cannot be asked).
Readiness PrinterReadiness(pappl_printer_t *printer);

}  // namespace status
