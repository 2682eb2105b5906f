#pragma once
// Tells the service manager (systemd) how the program stands, through the datagram socket that
// $NOTIFY_SOCKET names: "READY=1" once the listener is up, "STOPPING=1" when it stops. Without that
// variable (not started as a notify service) nothing happens.
#include <string>

namespace zelto {

// Sends state (lines "NAME=value") to the service manager; false when there is none or it cannot be
// reached.
bool NotifyServiceManager(const std::string& state);

}  // namespace zelto
