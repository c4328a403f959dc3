// The front-end's entry points. main creates the QApplication, calls ClientDemo_StartUp, runs the
// event loop and calls ClientDemo_ShutDown; a test can do the same without the event loop.
#pragma once

// Runs every start-up step but the event loop on the existing QApplication: binds the cluster
// library, chooses the clock, initialises the request layer, installs the fault handler, builds
// the three windows, starts the two workers, sets the disconnected state and shows MainWindow.
// Returns 1 when the program can run. When the library cannot be loaded or lacks an entry point
// the client calls, a message box says so and it returns 0 before the request layer is touched.
int ClientDemo_StartUp();

// Runs the shutdown steps: frees the shown avatar, stops the list worker and then the message
// worker, de-initialises the request layer and destroys the windows. The process is not ended;
// the cluster library stays loaded until it ends.
void ClientDemo_ShutDown();
