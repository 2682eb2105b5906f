#pragma once
// The single-instance rule of the program: one running copy per executable file name and version.
#include <functional>
#include <memory>
#include <string>

#include "platform/uSingleInstance.h"

namespace zelto {

// The executable's file name (backslashes removed) followed by the three-part version, e.g.
// "ZeltoHttpServer1.0.3". Built once.
const std::string& InstanceName();
// The same rule for any file name and version text (tests).
std::string MakeInstanceName(const std::string& executablePath, const std::string& version);

// Takes the instance name for this process. Returns the held instance (keep it for the life of the
// process; onWake runs on its thread each time another copy starts), or nullptr when another copy runs:
// that copy has been woken and this process should end with exit code 0.
std::unique_ptr<TSingleInstance> CheckSingleInstance(std::function<void()> onWake,
                                                     const std::string& instanceName = InstanceName());

}  // namespace zelto
