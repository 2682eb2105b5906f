#include "platform/uHttpMessage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace zelto {

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string PercentDecode(const std::string& s) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
            out += static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string Utf8ToSingleByte(const std::string& s, unsigned maxCodePoint) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        unsigned cp = 0;
        std::size_t len = 0;
        if (c < 0x80) { cp = c; len = 1; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1Fu; len = 2; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0Fu; len = 3; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07u; len = 4; }
        bool ok = len > 0 && i + len <= s.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (cc & 0x3Fu);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        out += cp <= maxCodePoint ? static_cast<char>(cp) : '?';
        i += len;
    }
    return out;
}

std::string THttpRequestInfo::Header(std::string_view name) const {
    for (const auto& [key, value] : Headers)
        if (IEquals(key, name)) return value;
    return {};
}

TContentFile::TContentFile(const std::string& path) {
    auto fail = [&](int err) {
        throw std::runtime_error("Cannot open file \"" + path + "\". " + std::strerror(err));
    };
    fFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fFd < 0) fail(errno);
    struct stat st;
    if (::fstat(fFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISREG(st.st_mode) ? errno : EISDIR;
        ::close(fFd);
        fFd = -1;
        fail(err);
    }
    fSize = static_cast<uint64_t>(st.st_size);
}

TContentFile::~TContentFile() {
    if (fFd >= 0) ::close(fFd);
}

bool TContentFile::ReadAll(std::string& out) const {
    out.resize(static_cast<std::size_t>(fSize));
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fFd, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int TContentFile::Release() {
    const int fd = fFd;
    fFd = -1;
    return fd;
}

bool IEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

std::string_view MediaType(std::string_view v) {
    const auto semi = v.find(';');
    if (semi != std::string_view::npos) v = v.substr(0, semi);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    return v;
}

std::string_view TargetAuthority(std::string_view target) {
    if (target.rfind("http://", 0) != 0 && target.rfind("https://", 0) != 0) return {};
    target.remove_prefix(target.find("//") + 2);
    return target.substr(0, target.find_first_of("/?#"));
}

bool SplitTarget(std::string_view target, std::string& document, std::string& query) {
    if (target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0) {
        const auto slash = target.find('/', target.find("//") + 2);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    if (target.empty() || target.front() != '/') return false;
    const auto q = target.find('?');
    document = PercentDecode(std::string(target.substr(0, q)));
    query = q == std::string_view::npos ? std::string() : std::string(target.substr(q + 1));
    return true;
}

void EncodeText(const THttpResponseInfo& r, std::string& type, std::string& body) {
    type = r.ContentType;
    // Plain text, not HTML: these texts (404, 500) repeat what the client sent.
    if (type.empty() && !r.ContentText.empty()) type = "text/plain";
    const std::string_view media = MediaType(type);
    const bool isText = media.size() > 5 && IEquals(media.substr(0, 5), "text/");
    if (!isText) {
        body = r.ContentText;
        return;
    }
    if (type.find("charset") == std::string::npos) {
        type += IEquals(media, "text/xml") ? "; charset=us-ascii" : "; charset=ISO-8859-1";
    }
    if (type.find("us-ascii") != std::string::npos) body = Utf8ToSingleByte(r.ContentText, 0x7F);
    else if (type.find("ISO-8859-1") != std::string::npos) body = Utf8ToSingleByte(r.ContentText, 0xFF);
    else body = r.ContentText;
}

bool IsSafeHeader(std::string_view name, std::string_view value) {
    if (name.empty() || name.find_first_of(std::string_view(" \t:\r\n\0", 6)) != std::string_view::npos) return false;
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace zelto
