#include "cli/qbftp.h"

#include "cli/console.h"
#include "cli/url.h"
#include "dispatch/manager.h"
#include "engine/secretary.h"
#include "platform/net.h"
#include "platform/time_util.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <termios.h>
#include <unistd.h>

namespace qb::cli {

namespace {

const char* const kUsage =
    "Usage: qbftp [OPTIONS] COMMAND ARGS...\n"
    "\n"
    "Quillbeck's FTP client for scripts. Remote locations are URLs of the form\n"
    "  ftp://[user[:password]@]host[:port]/path\n"
    "whose path is relative to the login folder. Without a user the login is\n"
    "anonymous. A password is never needed on the command line: it is taken from\n"
    "QBFTP_PASSWORD, or asked for on the terminal.\n"
    "\n"
    "Commands:\n"
    "  ls URL          list a remote folder\n"
    "  mkdir URL       create a remote folder\n"
    "\n"
    "Options:\n"
    "  --passive       passive data connections (the default)\n"
    "  --active        active data connections (the server connects back)\n"
    "  --log           print the FTP dialogue on stderr (the password hidden)\n"
    "  --timeout SECS  give up after SECS seconds without activity (0: never;\n"
    "                  default 60)\n"
    "  --json          ls: one JSON object per entry\n"
    "  --help          show this help\n"
    "  --version       show the version\n"
    "\n"
    "Exit status: 0 success, 1 an operation failed, 2 a usage error.\n";

struct Options {
    bool passive = true;
    bool log = false;
    bool json = false;
    long timeout = 60;
    std::string command;
    std::vector<std::string> args;
};

bool ParseOptions(const std::vector<std::string>& argv, Options& o, std::ostream& err, bool& done,
                  int& status) {
    done = false;
    bool onlyArgs = false;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (!onlyArgs && a.size() > 1 && a[0] == '-') {
            if (a == "--") {
                onlyArgs = true;
            } else if (a == "--help" || a == "-h") {
                std::cout << kUsage;
                done = true;
                status = kExitOk;
                return true;
            } else if (a == "--version") {
                std::cout << "qbftp " << QB_VERSION << "\n";
                done = true;
                status = kExitOk;
                return true;
            } else if (a == "--passive") {
                o.passive = true;
            } else if (a == "--active") {
                o.passive = false;
            } else if (a == "--log") {
                o.log = true;
            } else if (a == "--json") {
                o.json = true;
            } else if (a == "--timeout") {
                if (i + 1 >= argv.size()) {
                    err << "qbftp: --timeout needs a number of seconds\n";
                    return false;
                }
                char* end = nullptr;
                const std::string& v = argv[++i];
                o.timeout = std::strtol(v.c_str(), &end, 10);
                if (v.empty() || *end != '\0' || o.timeout < 0) {
                    err << "qbftp: bad --timeout value: " << v << "\n";
                    return false;
                }
            } else {
                err << "qbftp: unknown option " << a << " (try --help)\n";
                return false;
            }
            continue;
        }
        if (o.command.empty()) {
            o.command = a;
        } else {
            o.args.push_back(a);
        }
    }
    if (o.command.empty()) {
        err << kUsage;
        return false;
    }
    return true;
}

// Reads a password from the terminal without echo.
bool AskPassword(const std::string& prompt, std::string& password) {
    if (!::isatty(STDIN_FILENO)) {
        return false;
    }
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    termios old{};
    ::tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    const bool ok = static_cast<bool>(std::getline(std::cin, password));
    ::tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::fputs("\n", stderr);
    return ok;
}

// One connection and the operations run on it.
class Session {
public:
    Session(const Options& options, std::ostream& err, const std::atomic<bool>& interrupted)
        : m_options(options), m_err(err), m_interrupted(interrupted), m_console(err, options.log),
          m_secretary(m_console.Get()), m_manager(m_console.Get()) {
        m_manager.SetSecretary(&m_secretary);
        if (const char* email = std::getenv("QBFTP_EMAIL")) {
            m_console.SetAnonymousPassword(email);
        }
    }

    ~Session() {
        m_secretary.m_bShutdown = true;
        if (m_connection) {
            m_manager.Disconnect(m_connection);
        }
    }

    // Runs one request and waits for its end; true when it succeeded.
    bool Run(const std::function<OperationId()>& request) {
        const std::size_t mark = m_console.Mark();
        const OperationId id = request();
        if (id == 0) {
            m_err << "qbftp: the request was refused\n";
            return false;
        }
        using W = ConsoleFrontEnd::Wait;
        W waited = m_console.WaitForOperation(mark, std::chrono::seconds(m_options.timeout),
                                              m_interrupted);
        if (waited != W::Done) {
            if (waited == W::TimedOut) {
                m_err << "qbftp: nothing happened for " << m_options.timeout << " s; giving up\n";
            } else {
                m_err << "qbftp: interrupted\n";
            }
            // Stop cleanly first (ABOR where a transfer runs); disconnect if
            // that does not end it soon.
            m_manager.PostStop(waited == W::TimedOut);
            static const std::atomic<bool> never{false};
            if (m_console.WaitForOperation(mark, std::chrono::seconds(5), never) != W::Done) {
                m_manager.PostStop(true);
                m_console.WaitForOperation(mark, std::chrono::seconds(5), never);
            }
            m_outcome = m_console.TakeOutcome();
            return false;
        }
        m_outcome = m_console.TakeOutcome();
        return !m_outcome.failed;
    }

    // Connects to the URL's server; false (reported) on failure.
    bool Connect(const FtpUrl& url, int& status) {
        std::string user = url.user;
        std::string password = url.password;
        if (user.empty()) {
            user = "ftp";
            password = m_console.EmailAddress();
        } else if (!url.hasPassword) {
            if (const char* env = std::getenv("QBFTP_PASSWORD")) {
                password = env;
            } else if (!AskPassword("Password for " + user + "@" + url.host + ": ", password)) {
                m_err << "qbftp: no password for " << user
                      << " (set QBFTP_PASSWORD or run on a terminal)\n";
                status = kExitUsage;
                return false;
            }
        }
        FirewallSettings firewall;
        firewall.enabled = m_options.passive;
        firewall.type = 5;
        const bool ok = Run([&] {
            return m_manager.Connect(url.host, user, password, "", url.port, nullptr, &m_connection,
                                     firewall);
        });
        if (!ok || !m_outcome.connected) {
            m_connection = nullptr;
            status = kExitFailed;
            return false;
        }
        return true;
    }

    CFTPManager& Manager() { return m_manager; }
    CFTPRemoteManager* Connection() { return m_connection; }
    ConsoleFrontEnd::Outcome& Outcome() { return m_outcome; }

private:
    const Options& m_options;
    std::ostream& m_err;
    const std::atomic<bool>& m_interrupted;
    ConsoleFrontEnd m_console;
    CFTPSecretary m_secretary;
    CFTPManager m_manager;
    CFTPRemoteManager* m_connection = nullptr;
    ConsoleFrontEnd::Outcome m_outcome;
};

bool NeedArgs(const Options& o, std::size_t count, std::ostream& err) {
    if (o.args.size() != count) {
        err << "qbftp: " << o.command << " takes " << count << " argument"
            << (count == 1 ? "" : "s") << " (try --help)\n";
        return false;
    }
    return true;
}

bool ParseUrlArg(const std::string& text, FtpUrl& url, std::ostream& err) {
    std::string error;
    if (!ParseFtpUrl(text, url, error)) {
        err << "qbftp: " << error << "\n";
        return false;
    }
    return true;
}

void PrintEntry(const CFTPFile& f, bool json, std::ostream& out) {
    const char* type = f.m_bFile ? "file" : (f.m_strLink.empty() ? "folder" : "link");
    if (json) {
        out << "{\"name\":" << JsonString(f.GetName()) << ",\"type\":\"" << type
            << "\",\"size\":" << f.m_nSize << ",\"time\":\"" << IsoLocalTime(f.m_time) << "\"";
        if (!f.m_strLink.empty()) {
            out << ",\"link\":" << JsonString(f.m_strLink);
        }
        out << "}\n";
        return;
    }
    const char letter = f.m_bFile ? '-' : (f.m_strLink.empty() ? 'd' : 'l');
    out << letter << ' ' << f.m_nSize << ' ' << IsoLocalTime(f.m_time) << ' ' << f.GetName();
    if (!f.m_strLink.empty()) {
        out << " -> " << f.m_strLink;
    }
    out << '\n';
}

int CommandLs(const Options& o, Session& s, std::ostream& out, std::ostream& err) {
    FtpUrl url;
    if (!NeedArgs(o, 1, err) || !ParseUrlArg(o.args[0], url, err)) {
        return kExitUsage;
    }
    int status = kExitOk;
    if (!s.Connect(url, status)) {
        return status;
    }
    std::unique_ptr<CFTPFolderContent> content = std::move(s.Outcome().content);
    if (!url.path.empty()) {
        CFTPFile folder(url.path, s.Connection(), false);
        if (!s.Run([&] { return s.Manager().Explore(&folder, nullptr); })) {
            return kExitFailed;
        }
        content = std::move(s.Outcome().content);
    }
    if (!content) {
        err << "qbftp: the folder could not be listed\n";
        return kExitFailed;
    }
    for (std::size_t i = 0; i < content->GetFolders().GetSize(); ++i) {
        PrintEntry(*content->GetFolders().GetAt(i), o.json, out);
    }
    for (std::size_t i = 0; i < content->GetFiles().GetSize(); ++i) {
        PrintEntry(*content->GetFiles().GetAt(i), o.json, out);
    }
    return kExitOk;
}

int CommandMkdir(const Options& o, Session& s, std::ostream&, std::ostream& err) {
    FtpUrl url;
    if (!NeedArgs(o, 1, err) || !ParseUrlArg(o.args[0], url, err)) {
        return kExitUsage;
    }
    if (url.path.empty()) {
        err << "qbftp: mkdir needs a folder name in the URL\n";
        return kExitUsage;
    }
    int status = kExitOk;
    if (!s.Connect(url, status)) {
        return status;
    }
    CFTPFile folder(url.path, s.Connection(), false);
    return s.Run([&] { return s.Manager().MakeFolder(&folder, nullptr); }) ? kExitOk : kExitFailed;
}

using Command = int (*)(const Options&, Session&, std::ostream&, std::ostream&);

const std::map<std::string, Command>& Commands() {
    static const std::map<std::string, Command> commands = {
        {"ls", CommandLs},
        {"mkdir", CommandMkdir},
    };
    return commands;
}

} // namespace

std::string JsonString(const std::string& bytes) {
    std::string out = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            static const char* hex = "0123456789abcdef";
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            // Valid UTF-8 passes; any other byte becomes U+FFFD.
            std::size_t len = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
            bool valid = len > 0 && i + len <= n;
            for (std::size_t k = 1; valid && k < len; ++k) {
                valid = (p[i + k] & 0xC0) == 0x80;
            }
            if (valid) {
                out.append(bytes, i, len);
                i += len;
            } else {
                out += "\xEF\xBF\xBD";
                ++i;
            }
        }
    }
    return out + "\"";
}

std::string IsoLocalTime(long long time) {
    LocalTime t = ToLocalTime(static_cast<std::time_t>(time));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

int RunQbftp(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const std::atomic<bool>& interrupted) {
    Options options;
    bool done = false;
    int status = kExitOk;
    if (!ParseOptions(args, options, err, done, status)) {
        return kExitUsage;
    }
    if (done) {
        return status;
    }
    auto it = Commands().find(options.command);
    if (it == Commands().end()) {
        err << "qbftp: unknown command '" << options.command << "' (try --help)\n";
        return kExitUsage;
    }
    net::IgnoreSigpipe();
    Session session(options, err, interrupted);
    return it->second(options, session, out, err);
}

} // namespace qb::cli
