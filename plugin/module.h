// Module start and stop, run when the process loads and unloads the module.
#pragma once

void module_start();
void module_stop();
