#include "Codec8Listener.h"

#include "Codec8Connection.h"

namespace trackers {

void Codec8Listener::incomingConnection(qintptr descriptor) { new Codec8Connection(descriptor, hub_, idle_, this); }

} // namespace trackers
