// The processor switch: whether frame images blend on the packed path.
#pragma once

#include <windows.h>

// TRUE when the application profile's "MMX" in "Technology" (default 1; the program never writes
// it) is exactly 1 and the processor reports MMX. Any other value, or no MMX, keeps the plain path.
// Without an application object the default applies.
BOOL IsPackedBlendSelected();

// The processor's MMX bit (CPUID function 1, EDX bit 23).
bool ProcessorHasMmx();
