#include "app/uDesktopHelpers.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "base/TextEncoding.h"

namespace zelto {

long TracerPidOf(std::string_view statusText) {
    constexpr std::string_view key = "TracerPid:";
    std::size_t pos = 0;
    while (pos < statusText.size()) {
        const std::size_t end = std::min(statusText.find('\n', pos), statusText.size());
        const std::string_view line = statusText.substr(pos, end - pos);
        if (line.substr(0, key.size()) == key) {
            long pid = 0;
            for (char c : line.substr(key.size())) {
                if (c >= '0' && c <= '9') pid = pid * 10 + (c - '0');
                else if (c != ' ' && c != '\t') return 0;
                if (pid > 4194304) return 0;  // above the kernel's largest pid: not a pid
            }
            return pid;
        }
        pos = end + 1;
    }
    return 0;
}

bool RunningUnderDebugger() {
    std::ifstream in("/proc/self/status");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return TracerPidOf(text) != 0;
}

bool DisplayAvailable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

const std::string& THelpText::Load(const std::string& HelpFile) {
    if (!fText.empty()) return fText;
    std::ifstream in(HelpFile, std::ios::binary);
    if (!in) return fText;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string text = TextFileToUtf8(bytes, TTextFileBytes::Utf8IfValid);
    fText.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            fText += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            fText += text[i];
        }
    }
    return fText;
}

std::string LinkTarget(const std::string& labelText) {
    if (labelText.find('@') != std::string::npos) return "mailto:" + labelText;
    return labelText;
}

std::string BrowserAddress(const std::string& localIp, uint16_t port) {
    if (localIp.empty() || port == 0) return {};
    std::string host = localIp;
    constexpr std::string_view mapped = "::ffff:";
    if (host.size() > mapped.size() && host.compare(0, mapped.size(), mapped) == 0 &&
        host.find(':', mapped.size()) == std::string::npos && host.find('.', mapped.size()) != std::string::npos) {
        host.erase(0, mapped.size());
    }
    if (host.find(':') != std::string::npos) {
        const std::size_t zone = host.find('%');
        if (zone != std::string::npos) host.replace(zone, 1, "%25");
        host = "[" + host + "]";
    }
    return "http://" + host + ":" + std::to_string(port) + "/";
}

// The receiver runs under the lock, so that once SetReceiver(nullptr) returns no call is left running.
void TWakeRelay::Wake() {
    std::lock_guard<std::mutex> lock(fMutex);
    if (fReceiver) fReceiver();
    else fPending = true;
}

void TWakeRelay::SetReceiver(std::function<void()> receiver) {
    std::lock_guard<std::mutex> lock(fMutex);
    fReceiver = std::move(receiver);
    if (fPending && fReceiver) {
        fPending = false;
        fReceiver();
    }
}

}  // namespace zelto
