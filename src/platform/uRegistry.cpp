#include "platform/uRegistry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/TempFiles.h"

namespace zelto {

namespace {

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (std::tolower(ca) != std::tolower(cb)) return false;
    }
    return true;
}

// Values are kept on one line: backslash, CR, LF and tab are escaped, and so are spaces at either end
// (which the reader would otherwise trim).
std::string Escape(const std::string& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const char c = v[i];
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c == ' ' && (i == 0 || i + 1 == v.size())) out += "\\s";
        else out += c;
    }
    return out;
}

std::string Unescape(const std::string& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            out += v[i];
            continue;
        }
        const char n = v[i + 1];
        if (n == '\\') out += '\\';
        else if (n == 'n') out += '\n';
        else if (n == 'r') out += '\r';
        else if (n == 't') out += '\t';
        else if (n == 's') out += ' ';
        else {
            out += v[i];  // an unknown escape stays as written
            continue;
        }
        ++i;
    }
    return out;
}

std::string InvalidType(const std::string& name) { return "Invalid data type for '" + name + "'"; }

// Decimal integer text with optional sign; the registry's DWORD range read as a signed 32-bit number.
bool ParseDword(const std::string& text, int32_t& value) {
    const std::string t = Trim(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    if (i == t.size()) return false;
    int64_t v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') return false;
        v = v * 10 + (t[i] - '0');
        if (v > 4294967295LL) return false;
    }
    if (negative) v = -v;
    if (v < -2147483648LL) return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
}

}  // namespace

std::string DefaultSettingsRoot() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

std::string SettingsFileOf(const std::string& root, const std::string& keyPath, bool flat) {
    std::vector<std::string> parts;
    std::stringstream ss(keyPath);
    std::string part;
    while (std::getline(ss, part, '\\')) {
        if (!part.empty() && part != "." && part != "..") parts.push_back(part);
    }
    if (!parts.empty() && SameName(parts.front(), "Software")) parts.erase(parts.begin());
    if (parts.empty()) return "";
    std::filesystem::path p(root);
    for (std::size_t i = 0; !flat && i + 1 < parts.size(); ++i) p /= parts[i];
    p /= parts.back() + ".conf";
    return p.string();
}

TRegistry::TRegistry(std::string root, bool flat) : fRoot(std::move(root)), fFlat(flat) {}

TRegistry::~TRegistry() {
    try {
        CloseKey();
    } catch (const ERegistryException&) {
    }
}

bool TRegistry::OpenKey(const std::string& keyPath, bool CanCreate) {
    CloseKey();
    const std::string file = SettingsFileOf(fRoot, keyPath, fFlat);
    if (file.empty()) return false;
    std::ifstream in(file, std::ios::binary);
    if (in) {
        std::stringstream text;
        text << in.rdbuf();
        Load(text.str());
        fDirty = false;
    } else {
        // A file that exists but cannot be read is never replaced by an empty one.
        std::error_code exists;
        if (!CanCreate || std::filesystem::exists(file, exists) || exists) return false;
        std::error_code ec;
        const auto dir = std::filesystem::path(file).parent_path();
        std::filesystem::create_directories(dir, ec);
        if (ec || !std::filesystem::is_directory(dir)) return false;
        fLines.clear();
        fDirty = true;  // a created key exists on disk once it is closed, even with no values
    }
    fFile = file;
    fOpen = true;
    return true;
}

void TRegistry::CloseKey() {
    if (!fOpen) return;
    fOpen = false;
    const bool dirty = fDirty;
    fDirty = false;
    const std::string file = fFile;
    const std::string text = Serialise();
    fLines.clear();
    if (!dirty) return;

    std::string tmp;
    const int fd = CreateTempFileFor(file, tmp);
    if (fd < 0) throw ERegistryException("Could not write settings file " + file + ": " + std::strerror(errno));
    int err = 0;
    if (::fchmod(fd, 0600) != 0) err = errno;
    std::size_t done = 0;
    while (err == 0 && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno != EINTR) err = errno;
            continue;
        }
        done += static_cast<std::size_t>(n);
    }
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    // Renamed while still open, so that the start-up clean-up never takes it for a leftover.
    if (err == 0 && ::rename(tmp.c_str(), file.c_str()) != 0) err = errno;
    if (err != 0) ::unlink(tmp.c_str());
    ::close(fd);
    if (err != 0) throw ERegistryException("Could not write settings file " + file + ": " + std::strerror(err));
}

int RemoveInterruptedSettingsWrites(const std::string& root, const std::string& keyPath, bool flat) {
    const std::string file = SettingsFileOf(root, keyPath, flat);
    if (file.empty()) return 0;
    const std::filesystem::path path(file);
    const std::string name = path.filename().string();
    return RemoveInterruptedWrites(path.parent_path().string(), [&](const std::string& target) { return target == name; });
}

void TRegistry::Load(const std::string& text) {
    fLines.clear();
    std::stringstream ss(text);
    std::string raw;
    while (std::getline(ss, raw)) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        TLine line{raw, "", ""};
        const std::string t = Trim(raw);
        const auto eq = t.find('=');
        if (!t.empty() && t[0] != '#' && t[0] != ';' && t[0] != '[' && eq != std::string::npos && eq > 0) {
            line.Name = Trim(t.substr(0, eq));
            line.Value = Unescape(Trim(t.substr(eq + 1)));
        }
        fLines.push_back(std::move(line));
    }
}

std::string TRegistry::Serialise() const {
    std::string out;
    for (const TLine& l : fLines) out += l.Text + "\n";
    return out;
}

const TRegistry::TLine* TRegistry::Find(const std::string& name) const {
    if (!fOpen) return nullptr;
    for (const TLine& l : fLines) {
        if (!l.Name.empty() && SameName(l.Name, name)) return &l;
    }
    return nullptr;
}

bool TRegistry::ValueExists(const std::string& name) const { return Find(name) != nullptr; }

const std::string& TRegistry::RawValue(const std::string& name) const {
    const TLine* l = Find(name);
    if (l == nullptr) throw ERegistryException(InvalidType(name));
    return l->Value;
}

int32_t TRegistry::ReadInteger(const std::string& name) const {
    int32_t v = 0;
    if (!ParseDword(RawValue(name), v)) throw ERegistryException(InvalidType(name));
    return v;
}

bool TRegistry::ReadBool(const std::string& name) const { return ReadInteger(name) != 0; }

std::string TRegistry::ReadString(const std::string& name) const { return RawValue(name); }

void TRegistry::Write(const std::string& name, const std::string& value) {
    if (!fOpen) throw ERegistryException("Failed to set data for '" + name + "'");
    const std::string text = name + "=" + Escape(value);
    for (TLine& l : fLines) {
        if (!l.Name.empty() && SameName(l.Name, name)) {
            if (l.Value == value) return;  // keeps the line as the user wrote it
            l = TLine{text, l.Name, value};
            fDirty = true;
            return;
        }
    }
    fLines.push_back(TLine{text, name, value});
    fDirty = true;
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) { Write(name, std::to_string(value)); }

void TRegistry::WriteBool(const std::string& name, bool value) { Write(name, value ? "1" : "0"); }

void TRegistry::WriteString(const std::string& name, const std::string& value) { Write(name, value); }

}  // namespace zelto
