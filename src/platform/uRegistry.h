#pragma once
// The per-user settings store. A key such as "\Software\Tessvik\ZeltoHttpServer\" is one INI-style file,
// $XDG_CONFIG_HOME/Tessvik/ZeltoHttpServer.conf (default ~/.config), holding "Name=value" lines. Values are
// text on disk; the typed reads check the text against the type asked for and fail with
// "Invalid data type for '<name>'" when it does not fit. Value names compare case-insensitively, as registry
// value names do. The file is rewritten atomically (temporary file + rename) with mode 0600, because it
// holds the Q-link password.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelto {

// A read of the wrong type, or a key whose file cannot be written.
class ERegistryException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The folder that holds the settings files: $XDG_CONFIG_HOME when set and absolute, else $HOME/.config.
std::string DefaultSettingsRoot();
// The file of a key path below root: "\Software\Tessvik\ZeltoHttpServer\" gives root/Tessvik/ZeltoHttpServer.conf.
// A leading "Software" component is dropped; an empty key path gives an empty result. A flat root holds
// the files directly (root/ZeltoHttpServer.conf): a settings folder named on the command line.
std::string SettingsFileOf(const std::string& root, const std::string& keyPath, bool flat = false);

// Removes the temporary files that interrupted writes of a key's file left beside it (the settings hold
// the Q-link password, which must not linger in a forgotten copy). Returns how many were removed.
int RemoveInterruptedSettingsWrites(const std::string& root, const std::string& keyPath, bool flat = false);

class TRegistry {
public:
    explicit TRegistry(std::string root = DefaultSettingsRoot(), bool flat = false);
    ~TRegistry();  // closes the key; a write error here is lost, so callers that care call CloseKey
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // Opens a key (closing the one open before). Without CanCreate a key whose file does not exist or
    // cannot be read is not opened. With CanCreate a missing file is created when the key is closed; the
    // folder is created at once, and failing that the key is not opened.
    bool OpenKey(const std::string& keyPath, bool CanCreate);
    // Writes the key's file when a value changed, then closes it. Throws ERegistryException when the file
    // cannot be written (nothing of the old file is lost then).
    void CloseKey();
    bool KeyOpen() const { return fOpen; }

    bool ValueExists(const std::string& name) const;
    // Signed 32-bit; decimal text in -2147483648..4294967295 (values above 2^31-1 wrap, as a DWORD read
    // into a signed integer does).
    int32_t ReadInteger(const std::string& name) const;
    bool ReadBool(const std::string& name) const;  // an integer, non-zero = true
    std::string ReadString(const std::string& name) const;

    void WriteInteger(const std::string& name, int32_t value);
    void WriteBool(const std::string& name, bool value);  // 1 or 0
    void WriteString(const std::string& name, const std::string& value);

private:
    struct TLine {
        std::string Text;   // the line as in the file (comments, sections, blank lines kept)
        std::string Name;   // empty for lines that hold no value
        std::string Value;  // unescaped
    };
    const TLine* Find(const std::string& name) const;
    const std::string& RawValue(const std::string& name) const;  // throws when the value is missing
    void Write(const std::string& name, const std::string& value);
    void Load(const std::string& text);
    std::string Serialise() const;

    std::string fRoot;
    bool fFlat = false;
    std::string fFile;
    bool fOpen = false;
    bool fDirty = false;
    std::vector<TLine> fLines;
};

}  // namespace zelto
