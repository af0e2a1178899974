#include "sim/printer_profile.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace vorin::sim {

namespace {

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    const size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

// "text" keeps its blanks; anything else is taken trimmed.
std::string Unquote(const std::string& s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    return s;
}

bool Number(const std::string& text, uint64_t limit, uint64_t& value) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(t.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || t[0] == '-' || v > limit) return false;
    value = v;
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

std::string Where(const std::string& path, int line) {
    return path + ":" + std::to_string(line) + ": ";
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

}  // namespace

bool IsExtendedType(uint8_t type) { return type >= 100 && type != 111 && type != 112; }

size_t IdentificationLength(const PrinterProfile& p) {
    const bool twelve = p.type >= 100 && p.type <= 102 && p.version == 1 && p.variant == 'A';
    return twelve ? 12 : 11;
}

bool LoadArticles(const std::string& path, PrinterProfile& profile, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the article table " + path;
        return false;
    }
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        const std::vector<std::string> f = Split(line, ';');
        if (f.size() != 10) {
            error = Where(path, n) + "an article takes 10 fields separated by ';'";
            return false;
        }
        uint64_t v[10] = {};
        const uint64_t limits[10] = {65535,         0,  255, 255, 255, 255, 255, (1ULL << 44) - 1,
                                     0xFFFFFFFFULL, 255};
        for (int i = 0; i < 10; ++i) {
            if (i == 1) continue;
            if (!Number(f[i], limits[i], v[i])) {
                error = Where(path, n) + "field " + std::to_string(i + 1) + " '" + f[i] +
                        "' is not a number up to " + std::to_string(limits[i]);
                return false;
            }
        }
        Article a;
        a.name = Unquote(Trim(f[1]));
        if (a.name.size() > 20) {
            error = Where(path, n) + "a name holds at most 20 characters";
            return false;
        }
        if (v[2] < 1 || v[2] > 16) {
            // The short record keeps the group in four bits.
            error = Where(path, n) + "the group must be 1 to 16";
            return false;
        }
        a.group = static_cast<uint8_t>(v[2]);
        a.department = static_cast<uint8_t>(v[3]);
        a.unit = static_cast<uint8_t>(v[4]);
        a.tax = static_cast<uint8_t>(v[5]);
        a.flag = static_cast<uint8_t>(v[6]);
        a.code = v[7];
        a.price = static_cast<uint32_t>(v[8]);
        a.locked = static_cast<uint8_t>(v[9]);
        profile.articles[static_cast<uint32_t>(v[0])] = a;
    }
    return true;
}

bool LoadProfile(const std::string& path, PrinterProfile& profile, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the profile " + path;
        return false;
    }
    PrinterProfile p;
    bool haveIdentification = false;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        const size_t eq = t.find('=');
        if (eq == std::string::npos) {
            error = Where(path, n) + "expected 'key = value'";
            return false;
        }
        const std::string key = Trim(t.substr(0, eq));
        const std::string value = Unquote(Trim(t.substr(eq + 1)));
        uint64_t v = 0;
        auto byte = [&](uint8_t& out) {
            if (!Number(value, 255, v)) return false;
            out = static_cast<uint8_t>(v);
            return true;
        };
        bool ok = true;
        if (key == "number") {
            ok = value.size() == 2;
            p.number = value;
        } else if (key == "type") {
            ok = byte(p.type);
        } else if (key == "version") {
            ok = byte(p.version);
        } else if (key == "variant") {
            if (value.empty() || value == "none")
                p.variant = 0;
            else if (value.size() == 1)
                p.variant = static_cast<uint8_t>(value[0]);
            else
                ok = false;
        } else if (key == "type-query") {
            ok = value == "new" || value == "old";
            p.oldTypeQuery = value == "old";
        } else if (key == "identification") {
            p.identification = value;
            haveIdentification = true;
        } else if (key == "plu-count") {
            ok = Number(value, 65535, v);
            p.pluCount = static_cast<uint32_t>(v);
        } else if (key == "articles") {
            const std::string file =
                value.size() && value[0] == '/' ? value : FolderOf(path) + value;
            if (!LoadArticles(file, p, error)) return false;
        } else if (key == "status-9b") {
            ok = byte(p.status9B);
        } else if (key == "status-94") {
            ok = byte(p.status94);
        } else if (key == "status-95") {
            ok = byte(p.status95);
        } else if (key == "status-96") {
            ok = byte(p.status96);
        } else if (key == "status-66") {
            const std::vector<std::string> two = Split(Trim(value), ' ');
            uint64_t a = 0, b = 0;
            ok = two.size() == 2 && Number(two[0], 255, a) && Number(two[1], 255, b);
            p.status66 = {static_cast<uint8_t>(a), static_cast<uint8_t>(b)};
        } else if (key.rfind("display-", 0) == 0) {
            uint64_t lineNo = 0;
            // "FORM TEXT": the text starts after the one blank behind the form.
            const std::string raw = Trim(t.substr(eq + 1));
            const size_t blank = raw.find(' ');
            uint64_t form = 0;
            ok = Number(key.substr(8), 255, lineNo) && Number(raw.substr(0, blank), 255, form);
            DisplayLine d;
            d.form = static_cast<uint8_t>(form);
            d.text = blank == std::string::npos ? "" : Unquote(raw.substr(blank + 1));
            if (ok && d.text.size() > 40) ok = false;
            p.display[static_cast<uint8_t>(lineNo)] = d;
        } else {
            error = Where(path, n) + "unknown key '" + key + "'";
            return false;
        }
        if (!ok) {
            error = Where(path, n) + "bad value '" + value + "' for " + key;
            return false;
        }
    }
    if (p.oldTypeQuery && (p.version > 15 || p.variant != 0)) {
        // The older type query carries the version in four bits and no variant.
        error = path + ": a printer with type-query = old has a version up to 15 and no variant";
        return false;
    }
    if (!haveIdentification || p.identification.size() != IdentificationLength(p)) {
        error = path + ": identification must be " + std::to_string(IdentificationLength(p)) +
                " characters for this type, version and variant";
        return false;
    }
    profile = std::move(p);
    return true;
}

}  // namespace vorin::sim
