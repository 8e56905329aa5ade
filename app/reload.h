// Reading the configuration again while the manager runs: the applications
// are paired with those it has by display name (ignoring ASCII case) and,
// among equal names, by their order in the file: unchanged ones are left
// alone, changed ones restarted with their new settings (or started, when
// their last start failed or they were given up on), removed ones stopped
// (their numbers stay, empty), and added ones attached to or started under
// their old number when they come back, else a new one (see
// supervisor/reload_plan.h); the [General] keys take effect from now on.
#pragma once

class ArgReader;

// Reads zelkappmgr.ini and applies it, saying what changed. A file that
// cannot be opened, has a malformed section header or names no application
// changes nothing: false then.
bool ReloadConfiguration();

// The "reload" command (with ExtraCommands).
void ReloadCommand(ArgReader* args);
