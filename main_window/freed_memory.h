#pragma once

// Lets memory that the program frees go back to the system. glibc raises the size below which
// freed memory stays with the process each time a large block is freed (a window's backing
// store is one), up to tens of megabytes; a run of many hours would then keep the largest
// working set it ever had (the session log's, a flood's). Called once, first thing.
void returnFreedMemory();
