#pragma once
// The blocks this test program holds from operator new: a path that frees what it made leaves
// the count as it found it.
long liveAllocations();
