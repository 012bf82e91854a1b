// The benchmark's minimal target: announces itself, accepts any login and answers every
// command of a download at once with status 0 (erase with its own reply), keeping
// nothing. With no model behind it, a download against it shows what the engine costs
// on its own, set against the raw round trip.
#pragma once

namespace bench {

// Serves on the interface until killed; prints "ready" once the adapter is open.
// Returns 1 when the adapter cannot be opened.
int RunEchoTarget(const char* interfaceName);

}  // namespace bench
