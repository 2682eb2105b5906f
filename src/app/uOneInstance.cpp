#include "app/uOneInstance.h"

#include <algorithm>

#include "log/uLog.h"
#include "platform/uVersion.h"

namespace zelto {

std::string MakeInstanceName(const std::string& executablePath, const std::string& version) {
    const auto slash = executablePath.find_last_of('/');
    std::string name = slash == std::string::npos ? executablePath : executablePath.substr(slash + 1);
    name.erase(std::remove(name.begin(), name.end(), '\\'), name.end());
    return name + version;
}

const std::string& InstanceName() {
    static const std::string name = MakeInstanceName(ExecutablePath(), GetVersionText(3));
    return name;
}

std::unique_ptr<TSingleInstance> CheckSingleInstance(std::function<void()> onWake, const std::string& instanceName) {
    auto instance = std::make_unique<TSingleInstance>(instanceName);
    if (!instance->Acquire(std::move(onWake))) return nullptr;
    return instance;
}

}  // namespace zelto
