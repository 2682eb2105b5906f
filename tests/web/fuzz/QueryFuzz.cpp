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
    // Proxies are never dropped by a server: start afresh now and then so that memory stays bounded.
    static std::unique_ptr<TZeltoServer> server;
    static int runs = 0;
    if (!server || ++runs % 500 == 0) {
        server = std::make_unique<TZeltoServer>(TZeltoServerHost{{}, {}, "/nonexistent"});
        server->SetOutputType(iotXML);
    }
    const std::string query(reinterpret_cast<const char*>(data), size);
    const bool named = server->ParseRequest(query);
    Check(named == (server->LastAccessList[0] != nullptr));
    Check(server->CurrentAccessIndex >= 0 && server->CurrentAccessIndex < 3);
    for (const TGadgetVar* g : server->GadgetVarList()) {
        Check(g != nullptr && server->ZeltoList().GetByNAD(g->NAD()) != nullptr);
        Check(g->ArrayIndex() >= 0);
        CheckEntry(server->FormatGadgetVar(*g));
    }
    for (const std::string& n : server->SystemVarList()) {
        if (n == "sys.nad_list" || n.find("sys.alc_file") != std::string::npos) continue;
        CheckEntry(server->FormatSystemVar(n));
    }
    return 0;
}
