#pragma once

// How many more drawing objects the process can make now. The system's count of a process's
// objects is not kept under Wine (GetGuiResources answers 0), so the free room is measured:
// a leak shows as less room after the rounds than before.
int freeGdiRoom();
