#pragma once

#include <functional>

class QWidget;

// Helpers for driving modal dialogs and waiting on the event loop in tests.

// Runs `action` on the next modal widget to appear (polled from the event
// loop), so that a test can start a call that opens a modal dialog and answer
// the dialog while it runs. Gives up after `timeoutMs`.
void WhenModal(std::function<void(QWidget*)> action, int timeoutMs = 5000);

// Processes events until `done` holds or `timeoutMs` passes; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Processes events for about `ms` milliseconds.
void Pump(int ms);
