#pragma once
// Small pieces of the desktop shell that need no widgets: the debugger check behind the Exit button, the
// help text beside the program, the target of the about box's links, the address the main window offers to
// open, and the hand-over of a wake-up from a second copy to the window.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace zelto {

// The TracerPid of a /proc/<pid>/status text; 0 when no process traces it or the line is missing.
long TracerPidOf(std::string_view statusText);
// Whether a debugger (or any tracer) is attached to this process.
bool RunningUnderDebugger();

// Whether a window can be shown: a display is named (DISPLAY, WAYLAND_DISPLAY) or a platform chosen
// (QT_QPA_PLATFORM, for example "offscreen").
bool DisplayAvailable();

// The text of the help window, read once: Load reads the file only while no text has been loaded. The bytes
// are UTF-8 when they are valid UTF-8, otherwise Windows-1252 (a UTF-16 byte-order mark selects UTF-16). A
// missing file leaves it empty.
class THelpText {
public:
    // Returns the text (UTF-8, line breaks as "\n").
    const std::string& Load(const std::string& HelpFile);
    const std::string& Text() const { return fText; }

private:
    std::string fText;
};

// The address an about-box link opens: "mailto:" + the text for a mail address (it contains "@"),
// otherwise the text itself (a web address).
std::string LinkTarget(const std::string& labelText);

// The address a browser opens to reach the server: "http://" + localIp + ":" + port + "/". An IPv6 address
// goes in brackets (its zone as "%25"), an IPv4 address that an IPv6 socket reports ("::ffff:a.b.c.d") as
// the IPv4 address. "" when there is no address or no port.
std::string BrowserAddress(const std::string& localIp, uint16_t port);

// Passes the wake-up of a second copy (which arrives on the single-instance thread) to whoever shows the
// window. A wake before a receiver is set is kept and delivered when one is set. The receiver must be
// quick (it hands the wake-up on) and must not call the relay.
class TWakeRelay {
public:
    void Wake();
    void SetReceiver(std::function<void()> receiver);

private:
    std::mutex fMutex;
    std::function<void()> fReceiver;
    bool fPending = false;
};

}  // namespace zelto
