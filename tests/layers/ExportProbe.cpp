// Compiled only by a test, which expects the third include to be missing: the relay engine's
// library exports its own folder and passes on the filter's, and nothing above them.
#include "filter/IpFilter.h"
#include "net/TcpRepeater.h"
#include "slot/PortSlot.h"
