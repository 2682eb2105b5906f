// Fuzz target for the query parser: the input is a variable request's query text. Checks that nothing
// crashes and that every entry written for a request variable or a system-variable name is plain ASCII
// whose client text cannot close or open an element. Only entries that stay off the network are written
// (no autodetection, no ALC fetch).
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "web/uZeltoIntf.h"

using namespace zelto;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// The part of an entry between two tags.
std::string Between(const std::string& entry, const std::string& open, const std::string& close) {
    const std::size_t a = entry.find(open);
    const std::size_t b = entry.find(close, a == std::string::npos ? 0 : a);
    Check(a != std::string::npos && b != std::string::npos);
    return entry.substr(a + open.size(), b - a - open.size());
}

void CheckEntry(const std::string& entry) {
    for (const char c : entry) Check(static_cast<unsigned char>(c) < 0x80);
    const std::string name = Between(entry, "<var><name>", "</name>");
    Check(name.find_first_of("<>\"") == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Parsing keeps nothing in the server: one server serves every input.
    static std::unique_ptr<TZeltoServer> server;
    if (!server) {
        TZeltoServerHost host;
        host.SettingsRoot = "/nonexistent";
        server = std::make_unique<TZeltoServer>(host);
        server->SetOutputType(iotXML);
    }
    const std::string query(reinterpret_cast<const char*>(data), size);
    const TVarRequest request = server->ParseRequest(query);
    if (!request.Refusal.empty()) {
        Check(request.Vars.Count() == 0 && request.Controllers.empty());
        return 0;
    }
    // Every request variable belongs to the work of its controller, and the controllers come in ascending
    // order, each once.
    int worked = 0;
    for (std::size_t i = 0; i < request.Controllers.size(); ++i) {
        const TControllerWork& w = request.Controllers[i];
        Check(i == 0 || request.Controllers[i - 1].NAD < w.NAD);
        Check(w.CountedItems >= static_cast<int>(w.Vars.size() + w.AlcItems.size()));
        for (const int v : w.Vars) Check(request.Vars.Items(v)->NAD() == w.NAD);
        worked += static_cast<int>(w.Vars.size());
    }
    Check(worked == request.Vars.Count());
    Check(static_cast<int>(request.Controllers.size() + request.NamedOnly.size()) <= server->Bounds().MaxControllers);
    Check(request.Named.empty() == (request.Controllers.empty() && request.NamedOnly.empty()));
    for (const TGadgetVar* g : request.Vars) {
        Check(g != nullptr && g->ArrayIndex() >= 0);
        CheckEntry(server->FormatGadgetVar(*g));
    }
    for (const std::string& n : request.SysVars) {
        if (n == "sys.nad_list" || n.find("sys.alc_file") != std::string::npos) continue;
        CheckEntry(server->FormatSystemVar(n));
    }
    Check(server->Controllers().RecordCount() == 0);
    return 0;
}
