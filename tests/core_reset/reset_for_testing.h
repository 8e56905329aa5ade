// Puts the manager's process-wide state back to how static initialisation
// left it, so that tests can run one scenario after another in one process.
// The program itself never calls it.
#pragma once

// Frees every application entry, empties the application and wait tables,
// sets RunningFlag and builds the console anew over the port as it is now
// (its screen size, handles and cursor).
void ResetManagerForTesting();
