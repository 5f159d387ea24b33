// The site settings file: the settings of sites that the profile file's site
// record cannot hold, in a text file beside the profile.
//
//   Quillbeck site settings 1
//   Folder/Sub/Site<TAB>tls=explicit<TAB>epsv=off<TAB>fingerprint=AB:CD:...
//
// A site is named by its path of labels; "%", "/" and control characters
// in a label are written as "%XX". Only sites whose settings differ from
// the defaults have a line. Unknown keys (a later version's) are skipped.
#include "profile/site_tree.h"

#include <functional>

namespace qb {

namespace {

constexpr std::string_view kHeader = "Quillbeck site settings 1";
constexpr std::size_t kFingerprintBytes = 32;

std::string EscapeLabel(const std::string& label) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : label) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '%' || c == '/' || c < 0x20 || c == 0x7f) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool UnescapeLabel(std::string_view text, std::string& label) {
    label.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            label += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
            return false;
        }
        label += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return !label.empty();
}

// "AB:CD:..." of 32 bytes, in upper case; false for anything else.
bool NormalizeFingerprint(std::string_view text, std::string& out) {
    if (text.size() != kFingerprintBytes * 3 - 1) {
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 3 == 2) {
            if (c != ':') {
                return false;
            }
            out += c;
        } else {
            const int v = HexValue(c);
            if (v < 0) {
                return false;
            }
            out += "0123456789ABCDEF"[v];
        }
    }
    return true;
}

void ForEachSite(const CFTPSiteFolder& folder, const std::string& prefix,
                 const std::function<void(const std::string&, const CFTPSite&)>& visit) {
    for (const auto& sub : folder.GetSiteFolders()) {
        ForEachSite(*sub, prefix + EscapeLabel(sub->m_strLabel) + "/", visit);
    }
    for (const auto& site : folder.GetSites()) {
        visit(prefix + EscapeLabel(site->m_strLabel), *site);
    }
}

void ResetSites(CFTPSiteFolder& folder) {
    for (const auto& sub : folder.GetSiteFolders()) {
        ResetSites(*sub);
    }
    for (const auto& site : folder.GetSites()) {
        site->m_security = SiteSecurity{};
    }
}

// The site at `labels` (folders, then the site's label): the first child
// with each label, as the tree's own look-ups take it.
CFTPSite* SiteAt(CFTPSiteFolder& root, const std::vector<std::string>& labels) {
    CFTPSiteFolder* folder = &root;
    for (std::size_t i = 0; i + 1 < labels.size(); ++i) {
        CFTPSiteFolder* next = nullptr;
        for (const auto& sub : folder->GetSiteFolders()) {
            if (sub->m_strLabel == labels[i]) {
                next = sub.get();
                break;
            }
        }
        if (next == nullptr) {
            return nullptr;
        }
        folder = next;
    }
    for (const auto& site : folder->GetSites()) {
        if (site->m_strLabel == labels.back()) {
            return site.get();
        }
    }
    return nullptr;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

} // namespace

std::string SiteSettingsPath(const std::string& profilePath) {
    return profilePath + ".sites";
}

const char* TlsModeName(SiteSecurity::Tls tls) {
    switch (tls) {
    case SiteSecurity::Tls::None:
        return "none";
    case SiteSecurity::Tls::Explicit:
        return "explicit";
    case SiteSecurity::Tls::Implicit:
        return "implicit";
    case SiteSecurity::Tls::IfAvailable:
        break;
    }
    return "if-available";
}

bool ParseTlsMode(std::string_view name, SiteSecurity::Tls& tls) {
    for (const auto mode : {SiteSecurity::Tls::None, SiteSecurity::Tls::IfAvailable,
                            SiteSecurity::Tls::Explicit, SiteSecurity::Tls::Implicit}) {
        if (name == TlsModeName(mode)) {
            tls = mode;
            return true;
        }
    }
    return false;
}

std::string WriteSiteSettings(const CFTPSiteFolder& root) {
    std::string out(kHeader);
    out += '\n';
    ForEachSite(root, std::string(), [&](const std::string& path, const CFTPSite& site) {
        const SiteSecurity& s = site.m_security;
        if (s.IsDefault()) {
            return;
        }
        out += path;
        out += "\ttls=";
        out += TlsModeName(s.tls);
        out += s.epsv ? "\tepsv=on" : "\tepsv=off";
        if (!s.fingerprint.empty()) {
            out += "\tfingerprint=" + s.fingerprint;
        }
        out += '\n';
    });
    return out;
}

bool ReadSiteSettings(std::string_view text, CFTPSiteFolder& root, std::string& error) {
    std::vector<std::pair<std::vector<std::string>, SiteSecurity>> entries;
    std::vector<std::string_view> lines = Split(text, '\n');
    if (!lines.empty() && lines.back().empty()) {
        lines.pop_back(); // the last line's end
    }
    for (auto& line : lines) {
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
    }
    if (lines.empty() || lines.front() != kHeader) {
        error = "it is not a Quillbeck site settings file";
        return false;
    }
    for (std::size_t n = 1; n < lines.size(); ++n) {
        const std::string where = "line " + std::to_string(n + 1);
        if (lines[n].empty()) {
            continue;
        }
        const std::vector<std::string_view> fields = Split(lines[n], '\t');
        std::vector<std::string> labels;
        for (const std::string_view part : Split(fields.front(), '/')) {
            labels.emplace_back();
            if (!UnescapeLabel(part, labels.back())) {
                error = where + " names no site";
                return false;
            }
        }
        SiteSecurity security;
        for (std::size_t f = 1; f < fields.size(); ++f) {
            const auto eq = fields[f].find('=');
            if (eq == std::string_view::npos) {
                error = where + " holds \"" + std::string(fields[f]) + "\"";
                return false;
            }
            const std::string_view key = fields[f].substr(0, eq);
            const std::string_view value = fields[f].substr(eq + 1);
            bool ok = true;
            if (key == "tls") {
                ok = ParseTlsMode(value, security.tls);
            } else if (key == "epsv") {
                ok = value == "on" || value == "off";
                security.epsv = value == "on";
            } else if (key == "fingerprint") {
                ok = NormalizeFingerprint(value, security.fingerprint);
            }
            if (!ok) {
                error = where + ": bad " + std::string(key) + " \"" + std::string(value) + "\"";
                return false;
            }
        }
        entries.emplace_back(std::move(labels), std::move(security));
    }
    ResetSites(root);
    for (auto& [labels, security] : entries) {
        if (CFTPSite* site = SiteAt(root, labels)) {
            site->m_security = std::move(security);
        }
    }
    return true;
}

} // namespace qb
