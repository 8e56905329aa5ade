// Reading the configuration again while the manager runs: the applications
// are compared by display name (ignoring ASCII case) with those it has:
// unchanged ones are left alone, changed ones restarted with their new
// settings, added ones attached to or started under the next free number,
// removed ones stopped (their numbers stay, empty); the [General] keys take
// effect from now on.
#pragma once

class ArgReader;

// Reads zelkappmgr.ini and applies it, saying what changed. A file that
// cannot be opened changes nothing.
void ReloadConfiguration();

// The "reload" command (with ExtraCommands).
void ReloadCommand(ArgReader* args);
