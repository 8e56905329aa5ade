// "top" (with ExtraCommands): the status table that --status prints, with
// what each application uses now, on the console.
#pragma once

class ArgReader;

void TopCommand(ArgReader* args);
