// The program's units started in the order they depend on one another, and finished in reverse:
// the first step of the program block (before the application object initialises) and its last
// (after the message loop ends), shared by the program and the tests of its windows.
#pragma once

// Starts every unit, the class library first and the link commands last.
// Threads: the user-interface thread (the one that will run the message loop).
void InitializeProgramUnits();
// Finishes every unit in reverse order; the language manager goes with its unit.
// Threads: the user-interface thread, after the message loop.
void FinalizeProgramUnits();
