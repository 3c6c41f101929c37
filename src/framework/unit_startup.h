// Start-up and shutdown steps of the program's own units. A unit registers its start-up step
// together with the matching shutdown step; the program entry runs the start-up steps in order of
// registration and, once the message loop has ended, the shutdown steps of the steps that ran, in
// reverse order.
#pragma once

#include <functional>

// start runs at start-up; stop (may be empty) at shutdown, only if start returned normally.
void RegisterUnitStartup(std::function<void()> start, std::function<void()> stop);

// Runs the registered start-up steps in order. If one throws, the shutdown steps of those that
// ran are run (in reverse order) before the exception goes on.
void RunUnitStartups();
// Runs the shutdown steps of the started units in reverse order, each once.
void RunUnitShutdowns();
