#include "server_parts.h"

ServerParts::ServerParts(KRFlumera& owner, int count)
    : listenerCount(count), listeners(new RtspListener*[count > 0 ? count : 1]), udp1(owner), udp2(owner),
      monitor(owner), rtpSender(owner), tcpSender(owner), archive(owner) {
  for (int i = 0; i < count; ++i) listeners[i] = new RtspListener(owner, i);
}

ServerParts::~ServerParts() {
  for (int i = 0; i < listenerCount; ++i) delete listeners[i];
  delete[] listeners;
}

long ServerParts::AdmittedTotal() {
  long n = 0;
  for (int i = 0; i < listenerCount; ++i) n += InterlockedCompareExchange(&listeners[i]->admitted, 0, 0);
  return n;
}
