#include "main_window/freed_memory.h"

// The Windows heap gives back what is freed by itself.
void returnFreedMemory() {}
