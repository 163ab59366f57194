#pragma once
// The number of blocks allocated with operator new and not yet deleted.
long long LiveAllocations();
