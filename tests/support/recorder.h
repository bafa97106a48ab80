// Test support: what reached the application's exception handler, and a pump
// that waits for a condition with a deadline.
#pragma once

#include <functional>
#include <string>
#include <vector>

void InstallExceptionRecorder();
// Messages of the exceptions handed to the application's handler since the
// last call; clears the record.
std::vector<std::string> TakeRecordedExceptions();
// Pumps until at least one exception has been recorded (or `timeoutMs`
// passed), then takes them.
std::vector<std::string> AwaitRecordedExceptions(int timeoutMs = 5000);

// Runs the event loop until `done` holds or `timeoutMs` has passed; returns
// whether `done` held.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Runs the event loop for `ms` milliseconds (for checking that something
// does NOT happen).
void PumpFor(int ms);
