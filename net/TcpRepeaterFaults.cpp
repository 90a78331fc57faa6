// The faults set on the slot, put on its pairs.
#include <cerrno>

#include "net/TcpRepeater.h"
#include "net/Trace.h"

void CTcpRepeater::setFaults(const net::Faults& faults) {
  faults_ = faults;
  for (int position = 0; CTcpStreamPair* pair = pairs.next(position);)
    if (pair->acceptStream && pair->connectStream && pair->connectStream->connectState == STREAM_CONNECTED)
      applyFaults(*pair);
}

void CTcpRepeater::applyFaults(CTcpStreamPair& pair) const {
  pair.acceptStream->setFaults(faults_.down);
  pair.connectStream->setFaults(faults_.up);
}

// The cut is the relay's own doing; it is reported as the end the peers see: a reset, or a close.
void CTcpRepeater::notifyOnFault(int index, std::string kind, bool reset) {
  trace("CTcpRepeater::notifyOnFault() index=%d, kind=%s, reset=%d\n", index, kind.c_str(), reset ? 1 : 0);
  CTcpStreamPair* pair = pairs.at(index);
  if (!pair) return;
  const bool client = kind == "acceptSocket";
  if (!reset) return closePair(index, PairEnding::ClosedByUser);
  CTcpSockStream* cut = client ? pair->acceptStream.get() : pair->connectStream.get();
  abortPair(index, cut, client ? PairEnding::ClientReset : PairEnding::DestinationReset, ECONNRESET);
}
