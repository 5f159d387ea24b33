#include "qbftp.h"

#include "app/session.h"
#include "console.h"
#include "netrc.h"
#include "platform/time_util.h"
#include "profile/profile.h"
#include "url.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fnmatch.h>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace qb::cli {

namespace {

const char* const kUsage =
    "Usage: qbftp [OPTIONS] COMMAND ARGS...\n"
    "\n"
    "Quillbeck's FTP client for scripts. Remote locations are URLs of the form\n"
    "  ftp://[user[:password]@]host[:port]/path\n"
    "whose path is relative to the login folder. Without a user the login is\n"
    "anonymous. A password is never needed on the command line: it is taken from\n"
    "QBFTP_PASSWORD, ~/.netrc (machine/login/password; only when no one else may\n"
    "read it), or asked for on the terminal.\n"
    "\n"
    "Commands:\n"
    "  ls URL                 list a remote folder (or one file)\n"
    "  mkdir [-p] URL         create a remote folder (-p: and those on the way)\n"
    "  get URL... [LOCAL]     download (a folder with -r); LOCAL \"-\" is standard\n"
    "                         output\n"
    "  put LOCAL... URL       upload (a folder with -r); LOCAL \"-\" is standard\n"
    "                         input\n"
    "  cp SOURCE DEST         copy; either end may be local or an URL, also on\n"
    "                         two different servers\n"
    "  mv SOURCE DEST         move: a rename within one server, otherwise the\n"
    "                         copy, deleting the source once it is copied\n"
    "  rm [-r] URL            delete a remote file (a folder with -r)\n"
    "  rename URL NEWNAME     rename a remote file or folder in its folder\n"
    "  sites                  list the sites of the profile (never their passwords);\n"
    "                         sites add/remove/rename change them (sites --help)\n"
    "\n"
    "Wherever an URL goes, site:\"Folder/Site\"/path names a site of the profile and\n"
    "connects with its stored host, port, login, login folder and firewall settings.\n"
    "\n"
    "A destination that ends in \"/\" is a folder: the item keeps its name there\n"
    "(a local one must exist). Several sources need such a folder. The last\n"
    "element of a remote path may be a pattern (*, ?, [...]), matched by qbftp\n"
    "against the folder's listing; \"get -r URL/\" of the login folder copies all\n"
    "it holds.\n"
    "\n"
    "Options:\n"
    "  --passive       passive data connections (the default)\n"
    "  --active        active data connections (the server connects back)\n"
    "  --no-epsv       only PASV and PORT (no EPSV/EPRT; PORT cannot work over\n"
    "                  IPv6)\n"
    "  --no-feat       do not ask the server's features: no MLSD listings, no\n"
    "                  UTF-8 mode\n"
    "  --no-list-a     plain LIST on UNIX servers (dot-files stay hidden)\n"
    "  --tls           explicit TLS (AUTH TLS), required: a server without it fails\n"
    "  --tls-implicit  TLS from the first byte (as ftps:// URLs; port 990 unless\n"
    "                  given)\n"
    "  --no-tls        plain FTP, even for a site that asks for TLS\n"
    "                  (a site:\"Folder/Site\" URL otherwise takes the site's TLS\n"
    "                  mode, EPSV setting and kept certificate)\n"
    "  --insecure      accept a server certificate that cannot be verified\n"
    "  --cacert FILE   trust the certificates in FILE (PEM) instead of the\n"
    "                  system's\n"
    "                  (an unverifiable certificate is asked about on a\n"
    "                  terminal, and fails without one)\n"
    "  --log           print the FTP dialogue on stderr (the password hidden)\n"
    "  --timeout SECS  give up when the server is silent for SECS seconds (0:\n"
    "                  never; default 60; at most 2000000)\n"
    "  --retries N     try a connect the server turns away N more times\n"
    "                  (default 3)\n"
    "  --json          ls: one JSON object per entry\n"
    "  -r, --recursive get, put, cp, mv, rm: whole folders\n"
    "  -p, --preserve  get: keep the remote modification time\n"
    "  --overwrite     replace existing files (local for get, remote for put)\n"
    "                  without asking\n"
    "  --resume        continue existing files where they end\n"
    "  --skip          leave existing files alone\n"
    "                  (at most one of these; without one a terminal asks,\n"
    "                  otherwise the file fails)\n"
    "  --ascii         transfer in text mode (line ends converted)\n"
    "  --binary        transfer bytes as they are\n"
    "  --auto          text mode for the file extensions the profile lists\n"
    "                  (without one of these three, the profile's setting)\n"
    "  --profile FILE  the profile with the sites and settings (default: the\n"
    "                  user's own); qbftp reads it and never changes it (but\n"
    "                  for sites add/remove/rename); one it cannot read ends\n"
    "                  the run (exit 2)\n"
    "  --help          show this help (after a command: that command's)\n"
    "  --version       show the version\n"
    "\n"
    "Options that take a value accept --name VALUE and --name=VALUE.\n"
    "\n"
    "Exit status: 0 success, 1 an operation failed, 2 a usage error.\n";

struct Options {
    bool passive = true;
    bool extendedData = true; // EPSV/EPRT
    bool features = true;     // FEAT, MLSD, UTF-8
    bool listHidden = true;   // LIST -a
    FirewallSettings::Tls tls = FirewallSettings::Tls::None;
    bool tlsGiven = false; // --tls, --tls-implicit or --no-tls
    bool insecure = false;
    std::string caFile;
    bool log = false;
    bool json = false;
    bool recursive = false;
    bool preserve = false; // downloads keep the remote modification time
    bool parents = false;  // mkdir makes the folders on the way
    int overwrite = 0;     // an IOverwriteQuestion answer for every file, or 0
    int transferMode = -1; // a profile transfer mode, or -1 for the profile's own
    std::string profile;   // the profile file; empty: the default one
    long timeout = 60;
    long retries = 3; // a connect the server turns away is tried this often again
    std::string command;
    std::vector<std::string> args;
};

// The longest --timeout: its milliseconds must fit every wait the engine
// times (24 days).
constexpr long kMaxTimeout = 2'000'000;

// Whether `a` is the option `name`, as "--name" or "--name=VALUE".
bool IsValueOption(const std::string& a, const char* name) {
    const std::size_t n = std::strlen(name);
    return a.compare(0, n, name) == 0 && (a.size() == n || a[n] == '=');
}

// The value of the option at argv[i]: after its "=", or the next argument
// (then skipped). False when there is none.
bool TakeValue(const std::vector<std::string>& argv, std::size_t& i, const char* name,
               std::string& value) {
    const std::string& a = argv[i];
    const std::size_t n = std::strlen(name);
    if (a.size() > n) {
        value = a.substr(n + 1);
        return true;
    }
    if (i + 1 >= argv.size()) {
        return false;
    }
    value = argv[++i];
    return true;
}

// A whole decimal number from 0 to `max`; nothing that overflows or has
// other characters.
bool ParseCount(const std::string& text, long max, long& value) {
    if (text.empty() || text.size() > 18) {
        return false;
    }
    long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        n = n * 10 + (c - '0');
    }
    if (n > max) {
        return false;
    }
    value = n;
    return true;
}

// What `qbftp COMMAND --help` shows.
const char* CommandUsage(const std::string& command) {
    static const std::map<std::string, const char*> usages = {
        {"ls", "Usage: qbftp [OPTIONS] ls URL\n"
               "Lists a remote folder, or the one file the URL names. Each line is the\n"
               "kind (- file, d folder, l link), the size, the time and the name.\n"
               "  --json          one JSON object per entry\n"},
        {"mkdir", "Usage: qbftp [OPTIONS] mkdir [-p] URL\n"
                  "Creates a remote folder.\n"
                  "  -p, --parents  also the folders on the way; one that exists is fine\n"},
        {"get", "Usage: qbftp [OPTIONS] get URL [LOCAL]\n"
                "Downloads a file (a folder with -r) into LOCAL (default: the current\n"
                "folder). A LOCAL that ends in \"/\" must be an existing folder.\n"
                "  -r, --recursive  a whole folder\n"
                "  -p, --preserve   keep the remote modification time\n"
                "  --overwrite, --resume, --skip  what to do with an existing local file\n"},
        {"put", "Usage: qbftp [OPTIONS] put LOCAL URL\n"
                "Uploads a file (a folder with -r). An URL that ends in \"/\" is a folder\n"
                "the item keeps its name in.\n"
                "  -r, --recursive  a whole folder\n"
                "  --overwrite, --resume, --skip  what to do with an existing remote file\n"},
        {"cp", "Usage: qbftp [OPTIONS] cp SOURCE DEST\n"
               "Copies; either end may be local or an URL, also on two servers.\n"
               "  -r, --recursive  a whole folder\n"},
        {"mv", "Usage: qbftp [OPTIONS] mv SOURCE... DEST\n"
               "Within one server, renames (RNFR/RNTO) and copies nothing; elsewhere, or\n"
               "where the server refuses the rename, copies and deletes the source once\n"
               "the copy is whole. An existing destination needs --overwrite or --skip.\n"
               "  -r, --recursive  a whole folder\n"},
        {"rm", "Usage: qbftp [OPTIONS] rm [-r] URL\n"
               "Deletes a remote file (a folder and all it holds with -r).\n"},
        {"rename", "Usage: qbftp [OPTIONS] rename URL NEWNAME\n"
                   "Renames a remote file or folder within its folder.\n"},
        {"sites", "Usage: qbftp [OPTIONS] sites [--json]\n"
                  "       qbftp sites add \"Folder/Site\" ftp://[user@]host[:port]/path\n"
                  "                       [--passive|--active] [--tls|--tls-implicit|--no-tls]\n"
                  "                       [--no-epsv]\n"
                  "       qbftp sites remove [-r] \"Folder/Site\"\n"
                  "       qbftp sites rename \"Folder/Site\" NEWNAME\n"
                  "Lists the sites of the profile (never their passwords), or changes them\n"
                  "and saves the profile as the window does. A new site's password comes\n"
                  "from QBFTP_PASSWORD or is asked for; it is stored the profile's way.\n"
                  "--active makes a site that connects directly, past the firewall settings\n"
                  "(passive data connections are one of them). A new site uses TLS if the\n"
                  "server offers it, and EPSV; --tls makes TLS required, --tls-implicit (or an\n"
                  "ftps:// URL) TLS from the first byte, --no-tls plain FTP, --no-epsv only\n"
                  "PASV and PORT. --json shows each site's TLS mode, EPSV setting and kept\n"
                  "certificate fingerprint.\n"},
    };
    auto it = usages.find(command);
    return it == usages.end() ? nullptr : it->second;
}

bool ParseOptions(const std::vector<std::string>& argv, Options& o, std::ostream& out,
                  std::ostream& err, bool& done, int& status) {
    done = false;
    bool onlyArgs = false;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (!onlyArgs && a.size() > 1 && a[0] == '-') {
            if (a == "--") {
                onlyArgs = true;
            } else if (a == "--help" || a == "-h") {
                if (!o.command.empty()) {
                    const char* usage = CommandUsage(o.command);
                    if (!usage) {
                        err << "qbftp: unknown command '" << o.command << "' (try --help)\n";
                        return false;
                    }
                    out << usage;
                } else {
                    out << kUsage;
                }
                done = true;
                status = kExitOk;
                return true;
            } else if (a == "--version") {
                out << "qbftp " << QB_VERSION << "\n";
                done = true;
                status = kExitOk;
                return true;
            } else if (a == "--passive") {
                o.passive = true;
            } else if (a == "--active") {
                o.passive = false;
            } else if (a == "--no-epsv") {
                o.extendedData = false;
            } else if (a == "--no-feat") {
                o.features = false;
            } else if (a == "--no-list-a") {
                o.listHidden = false;
            } else if (a == "--tls" || a == "--tls-implicit" || a == "--no-tls") {
                const auto mode = a == "--tls"            ? FirewallSettings::Tls::Explicit
                                  : a == "--tls-implicit" ? FirewallSettings::Tls::Implicit
                                                          : FirewallSettings::Tls::None;
                if (o.tlsGiven && o.tls != mode) {
                    err << "qbftp: give only one TLS mode (--tls, --tls-implicit or --no-tls)\n";
                    return false;
                }
                o.tls = mode;
                o.tlsGiven = true;
            } else if (a == "--insecure") {
                o.insecure = true;
            } else if (a == "--cacert") {
                if (i + 1 >= argv.size() || argv[i + 1].empty()) {
                    err << "qbftp: --cacert needs a file name\n";
                    return false;
                }
                o.caFile = argv[++i];
            } else if (a == "--log") {
                o.log = true;
            } else if (a == "--json") {
                o.json = true;
            } else if (a == "-r" || a == "--recursive") {
                o.recursive = true;
            } else if (a == "--overwrite" || a == "--resume" || a == "--skip") {
                const int answer = a == "--overwrite" ? Question::OVERWRITE_ALL
                                   : a == "--resume"  ? Question::RESUME_ALL
                                                      : Question::SKIP_ALL;
                if (o.overwrite != 0 && o.overwrite != answer) {
                    err << "qbftp: --overwrite, --resume and --skip exclude each other\n";
                    return false;
                }
                o.overwrite = answer;
            } else if (a == "--ascii") {
                o.transferMode = CFTPProfile::MODE_TEXT;
            } else if (a == "--binary") {
                o.transferMode = CFTPProfile::MODE_BINARY;
            } else if (a == "--auto") {
                o.transferMode = CFTPProfile::MODE_AUTO;
            } else if (IsValueOption(a, "--profile")) {
                std::string v;
                if (!TakeValue(argv, i, "--profile", v) || v.empty()) {
                    err << "qbftp: --profile needs a file name\n";
                    return false;
                }
                o.profile = v;
            } else if (IsValueOption(a, "--retries")) {
                std::string v;
                if (!TakeValue(argv, i, "--retries", v)) {
                    err << "qbftp: --retries needs a number\n";
                    return false;
                }
                if (!ParseCount(v, 1000, o.retries)) {
                    err << "qbftp: bad --retries value: " << v << " (0 to 1000)\n";
                    return false;
                }
            } else if (IsValueOption(a, "--timeout")) {
                std::string v;
                if (!TakeValue(argv, i, "--timeout", v)) {
                    err << "qbftp: --timeout needs a number of seconds\n";
                    return false;
                }
                if (!ParseCount(v, kMaxTimeout, o.timeout)) {
                    err << "qbftp: bad --timeout value: " << v << " (0 to " << kMaxTimeout
                        << " seconds)\n";
                    return false;
                }
            } else if (a == "-p" || a == "--preserve" || a == "--parents") {
                // -p: --preserve for get, --parents for mkdir.
                o.preserve = a != "--parents";
                o.parents = a != "--preserve";
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

// The password ~/.netrc gives for the user on the host; a file others may
// read is refused with a warning.
std::optional<std::string> NetrcLookUp(const std::string& host, const std::string& user,
                                       std::ostream& err) {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        return std::nullopt;
    }
    std::string warning;
    auto password = NetrcPasswordFromFile(std::string(home) + "/.netrc", host, user, warning);
    if (!warning.empty()) {
        err << "qbftp: warning: " << warning << "\n";
    }
    return password;
}

// The connections of one run and the operations run on them, all through
// the session.
class Client {
public:
    Client(const Options& options, CFTPSession& session, Console& console, std::ostream& err,
           const std::atomic<bool>& interrupted)
        : m_options(options), m_err(err), m_interrupted(interrupted), m_console(console),
          m_session(session) {
        m_console.SetOverwritePolicy(options.overwrite);
        m_progress = !options.log && ::isatty(STDERR_FILENO);
        m_console.SetProgress(m_progress);
    }

    ~Client() {
        for (auto& [key, connection] : m_connections) {
            m_session.Disconnect(connection);
        }
    }

    // Runs one request and waits for its end; true when it succeeded.
    bool Run(const std::function<CFTPSession::Submitted()>& request) {
        const CFTPSession::Submitted submitted = request();
        if (!submitted) {
            m_err << "qbftp: " << submitted.refusal << "\n";
            return false;
        }
        m_lastConnection = submitted.connection;
        using W = Console::Wait;
        // The engine gives up on a silent server by itself; this is only a
        // backstop for what it does not time (a connect that keeps starting
        // over).
        const std::chrono::seconds backstop(m_options.timeout > 0 ? m_options.timeout * 2 + 5 : 0);
        W waited =
            m_console.WaitForOperation(m_session, submitted.operation, backstop, m_interrupted);
        if (waited != W::Done) {
            if (waited == W::TimedOut) {
                m_err << "qbftp: nothing happened for " << backstop.count() << " s; giving up\n";
            } else {
                m_err << "qbftp: interrupted\n";
            }
            // Stop cleanly first (ABOR where a transfer runs); disconnect if
            // that does not end it soon.
            m_session.Stop(waited == W::TimedOut);
            static const std::atomic<bool> never{false};
            if (m_console.WaitForOperation(m_session, submitted.operation, std::chrono::seconds(5),
                                           never) != W::Done) {
                m_session.Stop(true);
                m_console.WaitForOperation(m_session, submitted.operation, std::chrono::seconds(5),
                                           never);
            }
            m_outcome = m_console.TakeOutcome();
            return false;
        }
        m_outcome = m_console.TakeOutcome();
        return !m_outcome.failed;
    }

    // Run, with failure messages kept in the outcome instead of printed.
    bool RunQuietly(const std::function<CFTPSession::Submitted()>& request) {
        m_console.SetQuiet(true);
        const bool ok = Run(request);
        m_console.SetQuiet(false);
        return ok;
    }

    // The connection for the URL's server and user, made on first use;
    // kNoConnection (reported, `status` set) on failure.
    SiteRef ConnectionFor(const FtpUrl& url, int& status) {
        const std::string key = url.user + "@" + url.host + ":" + std::to_string(url.port);
        auto it = m_connections.find(key);
        if (it != m_connections.end()) {
            return SiteRef{it->second, url.host};
        }
        if (!Connect(url, status)) {
            return SiteRef{};
        }
        m_connections[key] = m_lastConnection;
        m_loginListings[m_lastConnection] = m_outcome.content;
        return SiteRef{m_lastConnection, url.host};
    }

    // The listing of a remote folder ("" the login folder); null (reported)
    // when it cannot be had.
    std::shared_ptr<const CFTPFolderContent> List(const SiteRef& site, const std::string& path) {
        if (path.empty()) {
            auto it = m_loginListings.find(site.id);
            if (it != m_loginListings.end() && it->second) {
                return it->second;
            }
        }
        CFTPFile folder(path, site, false);
        if (!Run([&] { return m_session.Explore(folder); })) {
            return nullptr;
        }
        return m_outcome.content;
    }

    // The entry `path` names in its folder's listing, with its kind, size
    // and time; nothing when there is no such name (or no listing).
    std::optional<CFTPFile> LookUp(const SiteRef& site, const std::string& path) {
        const auto slash = path.rfind('/');
        const std::string parent = slash == std::string::npos ? "" : path.substr(0, slash);
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        const auto content = List(site, parent);
        if (!content) {
            return std::nullopt;
        }
        for (const CFTPFileArray* list : {&content->GetFiles(), &content->GetFolders()}) {
            for (std::size_t i = 0; i < list->GetSize(); ++i) {
                if (list->GetAt(i)->GetName() == name) {
                    return *list->GetAt(i);
                }
            }
        }
        return std::nullopt;
    }

    // Connects to the URL's server; false (reported) on failure.
    bool Connect(const FtpUrl& url, int& status) {
        SiteConnectRequest request;
        request.host = url.host;
        request.port = url.port;
        request.folder = url.loginFolder;
        request.user = url.user;
        request.password = url.password;
        if (request.user.empty()) {
            request.user = "ftp";
            request.password = AnonymousPassword();
        } else if (!url.hasPassword) {
            std::optional<std::string> netrc;
            const char* env = std::getenv("QBFTP_PASSWORD");
            if (!env) {
                netrc = NetrcLookUp(url.host, request.user, m_err);
            }
            if (env) {
                request.password = env;
            } else if (netrc) {
                request.password = *netrc;
            } else if (!AskPassword("Password for " + request.user + "@" + url.host + ": ",
                                    request.password)) {
                m_err << "qbftp: no password for " << request.user
                      << " (set QBFTP_PASSWORD or run on a terminal)\n";
                status = kExitUsage;
                return false;
            }
        }
        request.firewall.enabled = m_options.passive;
        request.firewall.type = 5;
        if (url.hasFirewall) {
            // A stored site connects as the window would; passive data
            // connections when asked for and no proxy is in the way.
            request.firewall = url.firewall;
            if (m_options.passive && !request.firewall.enabled) {
                request.firewall.enabled = true;
                request.firewall.type = 5;
            }
        }
        // A stored site keeps its own TLS mode and EPSV setting unless the
        // command line says otherwise.
        if (!url.hasFirewall || !m_options.extendedData) {
            request.firewall.extendedData = m_options.extendedData;
        }
        request.firewall.features = m_options.features;
        request.firewall.listHidden = m_options.listHidden;
        if (url.implicitTls) {
            request.firewall.tls = FirewallSettings::Tls::Implicit;
        } else if (!url.hasFirewall || m_options.tlsGiven) {
            request.firewall.tls = m_options.tls;
        }
        if (m_options.tls == FirewallSettings::Tls::Implicit && !url.implicitTls &&
            url.port == 21) {
            request.port = 990;
        }
        request.firewall.acceptAnyCertificate = m_options.insecure;
        request.firewall.caFile = m_options.caFile;
        const bool ok = Run([&] { return m_session.Connect(request); });
        if (!ok || !m_outcome.connected) {
            m_lastConnection = kNoConnection;
            status = kExitFailed;
            return false;
        }
        return true;
    }

    CFTPSession& Session() { return m_session; }
    bool Interrupted() const { return m_interrupted.load(); }
    Console& GetConsole() { return m_console; }
    bool ShowsProgress() const { return m_progress; }
    CFTPProfile& Profile() { return *m_session.GetProfile(); }
    Console::Outcome& Outcome() { return m_outcome; }

private:
    std::string AnonymousPassword() const {
        if (const char* email = std::getenv("QBFTP_EMAIL")) {
            return email;
        }
        const std::string stored = m_session.GetProfile()->GetEMail();
        return stored.empty() ? std::string("qbftp@localhost") : stored;
    }

    const Options& m_options;
    std::ostream& m_err;
    const std::atomic<bool>& m_interrupted;
    Console& m_console;
    CFTPSession& m_session;
    ConnectionId m_lastConnection = kNoConnection;
    std::map<std::string, ConnectionId> m_connections;
    std::map<ConnectionId, std::shared_ptr<const CFTPFolderContent>> m_loginListings;
    Console::Outcome m_outcome;
    bool m_progress = false;
};

bool NeedArgs(const Options& o, std::size_t count, std::ostream& err) {
    if (o.args.size() != count) {
        err << "qbftp: " << o.command << " takes " << count << " argument"
            << (count == 1 ? "" : "s") << " (try --help)\n";
        return false;
    }
    return true;
}

// "site:" names a site of the profile: site:"Folder/Sub/Site"/remote/path
// (the quotes may be left out when no path follows).
bool IsSiteUrl(const std::string& text) {
    return text.rfind("site:", 0) == 0;
}

bool ParseSiteUrl(CFTPProfile& profile, const std::string& text, FtpUrl& url, std::ostream& err) {
    std::string rest = text.substr(5);
    std::string label;
    std::string path;
    if (!rest.empty() && rest[0] == '"') {
        const auto close = rest.find('"', 1);
        if (close == std::string::npos) {
            err << "qbftp: unterminated quote in " << text << "\n";
            return false;
        }
        label = rest.substr(1, close - 1);
        path = rest.substr(close + 1);
    } else {
        label = rest;
    }
    CFTPSite* site = profile.FindSite(label);
    if (!site) {
        err << "qbftp: no site \"" << label << "\" in the profile (see qbftp sites)\n";
        return false;
    }
    auto request = MakeSiteConnectRequest(*site, profile, nullptr);
    if (!request) {
        err << "qbftp: the site needs a proxy login the profile does not hold\n";
        return false;
    }
    url = FtpUrl{};
    url.host = request->host;
    url.port = request->port;
    url.user = request->user;
    url.password = request->password;
    url.hasPassword = !request->password.empty() || request->user.empty();
    url.firewall = request->firewall;
    url.hasFirewall = true;
    url.loginFolder = request->folder;
    std::string decoded;
    if (!PercentDecode(path, decoded)) {
        err << "qbftp: bad escape in the path\n";
        return false;
    }
    url.trailingSlash = !decoded.empty() && decoded.back() == '/';
    while (!decoded.empty() && decoded.back() == '/') {
        decoded.pop_back();
    }
    while (!decoded.empty() && decoded.front() == '/') {
        decoded.erase(0, 1);
    }
    url.path = decoded;
    return true;
}

bool ParseUrlArg(CFTPProfile& profile, const std::string& text, FtpUrl& url, std::ostream& err) {
    if (IsSiteUrl(text)) {
        return ParseSiteUrl(profile, text, url, err);
    }
    std::string error;
    if (!ParseFtpUrl(text, url, error)) {
        err << "qbftp: " << error << "\n";
        return false;
    }
    return true;
}

// Writes the plain lines of a listing: into one buffer written out in large
// pieces, each time formatted once for a run of entries with the same time,
// names copied as they are unless they hold a control character.
class ListingPrinter {
public:
    explicit ListingPrinter(std::ostream& out) : m_out(out), m_buffer(kFlushAt) {}
    ~ListingPrinter() { Flush(); }
    ListingPrinter(const ListingPrinter&) = delete;
    ListingPrinter& operator=(const ListingPrinter&) = delete;

    void Add(const ListedEntry& f) {
        if (!m_haveTime || f.time != m_time) {
            m_time = f.time;
            m_timeText = IsoLocalTime(m_time);
            m_haveTime = true;
        }
        const std::string_view name = f.name;
        const std::string_view link = f.link;
        if (IsUnsafe(name) || IsUnsafe(link)) {
            AddUnsafe(f);
            return;
        }
        // Letter, size, time, name, " -> " and the target, the line's end.
        constexpr std::size_t kFixed = 2 + 21 + 1 + 4 + 1;
        char* p = Room(kFixed + m_timeText.size() + name.size() + link.size());
        *p++ = f.isFile ? '-' : (link.empty() ? 'd' : 'l');
        *p++ = ' ';
        if (f.size != kUnknownSize) {
            p = std::to_chars(p, p + 20, f.size).ptr;
        } else {
            *p++ = '?';
        }
        *p++ = ' ';
        p = Copy(p, m_timeText);
        *p++ = ' ';
        p = Copy(p, name);
        if (!link.empty()) {
            p = Copy(p, " -> ");
            p = Copy(p, link);
        }
        *p++ = '\n';
        m_used = static_cast<std::size_t>(p - m_buffer.data());
    }

    void Flush() {
        if (m_used != 0) {
            m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_used));
            m_used = 0;
        }
    }

private:
    static constexpr std::size_t kFlushAt = 64 * 1024;

    // Names come from the server: no control character reaches a terminal.
    // Eight bytes are looked at together: a word has a byte below n (at most
    // 128) exactly when subtracting n from every byte borrows into the top
    // bit of one that had it clear.
    static bool IsUnsafe(std::string_view text) {
        constexpr std::uint64_t kOnes = 0x0101010101010101;
        constexpr std::uint64_t kTops = 0x8080808080808080;
        const auto unsafe = [](std::uint64_t word) {
            const std::uint64_t del = word ^ (kOnes * 0x7F); // DEL becomes 0
            return (((word - kOnes * 0x20) & ~word) | ((del - kOnes) & ~del)) & kTops;
        };
        std::uint64_t found = 0;
        std::size_t i = 0;
        for (; i + 8 <= text.size(); i += 8) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + i, 8);
            found |= unsafe(word);
        }
        if (i < text.size() && text.size() >= 8) {
            // The last eight bytes, some of them looked at already.
            std::uint64_t word;
            std::memcpy(&word, text.data() + text.size() - 8, 8);
            found |= unsafe(word);
        } else {
            for (; i < text.size(); ++i) {
                const auto byte = static_cast<unsigned char>(text[i]);
                found |= static_cast<std::uint64_t>(byte < 0x20 || byte == 0x7F);
            }
        }
        return found != 0;
    }

    void AddUnsafe(const ListedEntry& f) {
        std::string line = f.isFile ? "- " : (f.link.empty() ? "d " : "l ");
        line += f.size != kUnknownSize ? std::to_string(f.size) : "?";
        line += ' ' + m_timeText + ' ' + TerminalSafe(std::string(f.name));
        if (!f.link.empty()) {
            line += " -> " + TerminalSafe(std::string(f.link));
        }
        line += '\n';
        Copy(Room(line.size()), line);
        m_used += line.size();
    }

    // Where `size` more bytes go; the buffer is written out first when they
    // do not fit.
    char* Room(std::size_t size) {
        if (m_used + size > m_buffer.size()) {
            Flush();
            if (size > m_buffer.size()) {
                m_buffer.resize(size);
            }
        }
        return m_buffer.data() + m_used;
    }

    static char* Copy(char* p, std::string_view text) {
        if (!text.empty()) {
            std::memcpy(p, text.data(), text.size());
        }
        return p + text.size();
    }

    std::ostream& m_out;
    std::vector<char> m_buffer;
    std::size_t m_used = 0;
    std::time_t m_time = 0;
    bool m_haveTime = false;
    std::string m_timeText;
};

// Prints a listing's plain lines while it is read (on the connection's
// thread), each received piece written out at once.
class ListingStream : public IListingSink {
public:
    explicit ListingStream(std::ostream& out) : m_printer(out) {}

    void Listed(std::span<const ListedEntry> entries) override {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const ListedEntry& f : entries) {
            m_printer.Add(f);
        }
        m_printer.Flush();
        m_count += entries.size();
    }

    // Printed is done with: the entries need not be kept.
    bool WantsListing() const override { return false; }

    // How many entries were printed.
    std::size_t Count() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }

private:
    std::mutex m_mutex;
    ListingPrinter m_printer;
    std::size_t m_count = 0;
};

void PrintEntry(const CFTPFile& f, bool json, std::ostream& out) {
    const char* type = f.m_bFile ? "file" : (f.m_strLink.empty() ? "folder" : "link");
    // A size the listing did not give (a device, an odd column) is unknown.
    const bool sizeKnown = f.m_nSize != kUnknownSize;
    if (json) {
        out << "{\"name\":" << JsonString(f.GetName()) << ",\"type\":\"" << type << "\",\"size\":";
        if (sizeKnown) {
            out << f.m_nSize;
        } else {
            out << "null";
        }
        out << ",\"time\":\"" << IsoLocalTime(f.m_time) << "\"";
        if (!f.m_strLink.empty()) {
            out << ",\"link\":" << JsonString(f.m_strLink);
        }
        out << "}\n";
        return;
    }
    ListingPrinter(out).Add(AsListedEntry(f));
}

// Whether a name holds a shell pattern ("*", "?", "[...]").
bool IsPattern(const std::string& name) {
    return name.find_first_of("*?[") != std::string::npos;
}

// The parent folder and the last element of a remote path.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {std::string(), path};
    }
    return {path.substr(0, slash), path.substr(slash + 1)};
}

// The entries of `content` whose names match `pattern` as the shell would
// match them (a leading "." only explicitly), folders first.
std::vector<const CFTPFile*> Matching(const CFTPFolderContent& content,
                                      const std::string& pattern) {
    std::vector<const CFTPFile*> found;
    for (const CFTPFileArray* list : {&content.GetFolders(), &content.GetFiles()}) {
        for (std::size_t i = 0; i < list->GetSize(); ++i) {
            const CFTPFile* f = list->GetAt(i);
            if (::fnmatch(pattern.c_str(), f->GetName().c_str(), FNM_PERIOD) == 0) {
                found.push_back(f);
            }
        }
    }
    return found;
}

int CommandLs(const Options& o, Client& s, std::ostream& out, std::ostream& err) {
    FtpUrl url;
    if (!NeedArgs(o, 1, err) || !ParseUrlArg(s.Profile(), o.args[0], url, err)) {
        return kExitUsage;
    }
    int status = kExitOk;
    const SiteRef site = s.ConnectionFor(url, status);
    if (!site.IsRemote()) {
        return status;
    }
    const auto [parent, last] = SplitPath(url.path);
    if (IsPattern(last)) {
        // Matched here against the parent's listing; never sent to the
        // server as a wildcard.
        const auto content = s.List(site, parent);
        if (!content) {
            return kExitFailed;
        }
        const auto found = Matching(*content, last);
        if (found.empty()) {
            err << "qbftp: nothing matches " << TerminalSafe(url.path) << "\n";
            return kExitFailed;
        }
        for (const CFTPFile* f : found) {
            PrintEntry(*f, o.json, out);
        }
        return kExitOk;
    }
    // The plain lines are written while the listing comes, in the server's
    // order.
    const auto stream = o.json ? nullptr : std::make_shared<ListingStream>(out);
    CFTPFile folder(url.path, site, false);
    if (!s.RunQuietly([&] { return s.Session().Explore(folder, stream); })) {
        const Console::Outcome failed = s.Outcome();
        // Not a folder it could enter: one file is listed as itself.
        if (!url.path.empty() && !url.trailingSlash && (!stream || stream->Count() == 0)) {
            if (const auto entry = s.LookUp(site, url.path); entry && entry->m_bFile) {
                PrintEntry(*entry, o.json, out);
                return kExitOk;
            }
        }
        // (A listing cut short has printed what came.)
        for (std::string message : failed.messages) {
            while (!message.empty() && message.back() == '\n') {
                message.pop_back();
            }
            err << "qbftp: " << TerminalSafe(message) << "\n";
        }
        if (failed.messages.empty()) {
            err << "qbftp: the folder could not be listed\n";
        }
        return kExitFailed;
    }
    if (stream) {
        return kExitOk;
    }
    const std::shared_ptr<const CFTPFolderContent> content = s.Outcome().content;
    if (!content) {
        err << "qbftp: the folder could not be listed\n";
        return kExitFailed;
    }
    for (std::size_t i = 0; i < content->GetFolders().GetSize(); ++i) {
        PrintEntry(*content->GetFolders().GetAt(i), true, out);
    }
    for (std::size_t i = 0; i < content->GetFiles().GetSize(); ++i) {
        PrintEntry(*content->GetFiles().GetAt(i), true, out);
    }
    return kExitOk;
}

int CommandMkdir(const Options& o, Client& s, std::ostream&, std::ostream& err) {
    FtpUrl url;
    if (!NeedArgs(o, 1, err) || !ParseUrlArg(s.Profile(), o.args[0], url, err)) {
        return kExitUsage;
    }
    if (url.path.empty()) {
        err << "qbftp: mkdir needs a folder name in the URL\n";
        return kExitUsage;
    }
    int status = kExitOk;
    const SiteRef site = s.ConnectionFor(url, status);
    if (!site.IsRemote()) {
        return status;
    }
    if (!o.parents) {
        CFTPFile folder(url.path, site, false);
        return s.Run([&] { return s.Session().MakeFolder(folder); }) ? kExitOk : kExitFailed;
    }
    // -p: every missing folder on the way; one that is there is fine.
    for (std::size_t end = 0; end != std::string::npos;) {
        end = url.path.find('/', end + 1);
        const std::string prefix = url.path.substr(0, end);
        CFTPFile folder(prefix, site, false);
        if (s.RunQuietly([&] { return s.Session().MakeFolder(folder); })) {
            continue;
        }
        const Console::Outcome failed = s.Outcome();
        const auto entry = s.LookUp(site, prefix);
        if (entry && !entry->m_bFile) {
            continue;
        }
        for (std::string message : failed.messages) {
            while (!message.empty() && message.back() == '\n') {
                message.pop_back();
            }
            err << "qbftp: " << TerminalSafe(message) << "\n";
        }
        if (entry) {
            err << "qbftp: " << TerminalSafe(prefix) << " is a file\n";
        }
        return kExitFailed;
    }
    return kExitOk;
}

// The local path "-" stands for as the source of an upload.
const char* const kStdin = "/dev/stdin";

// One end of a copy: an URL or a local path.
struct End {
    bool remote = false;
    FtpUrl url;
    std::string local;        // absolute
    bool localFolder = false; // the local path ended in "/": it must be a folder
    int kind = -1;            // -1 not known, 0 a file, 1 a folder (from a listing)
    std::time_t time = 0;     // from the listing, with kind
    FileSize size = kUnknownSize;
};

bool ParseEnd(CFTPProfile& profile, const std::string& text, End& end, std::ostream& err) {
    if (IsFtpUrl(text) || IsSiteUrl(text)) {
        end.remote = true;
        return ParseUrlArg(profile, text, end.url, err);
    }
    if (text.empty()) {
        err << "qbftp: an empty local path\n";
        return false;
    }
    end.local = text;
    end.localFolder = text.back() == '/';
    if (text[0] != '/') {
        char cwd[4096];
        if (!::getcwd(cwd, sizeof cwd)) {
            err << "qbftp: cannot tell the current folder\n";
            return false;
        }
        end.local = std::string(cwd) + "/" + text;
    }
    while (end.local.size() > 1 && end.local.back() == '/') {
        end.local.pop_back();
    }
    return true;
}

std::string BaseName(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The files under a local folder, for the progress of a recursive upload
// (links to folders are not followed, as the upload does not).
std::size_t CountLocalFiles(const std::string& folder) {
    std::size_t count = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(
             folder, std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_directory(error)) {
            ++count;
        }
    }
    return count;
}

bool IsLocalFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Copies or moves one item; both ends may be local or remote.
int Transfer(const Options& o, Client& s, std::ostream& err, const End& from, const End& to,
             bool move) {
    if (!from.remote && !to.remote) {
        err << "qbftp: one end must be an ftp:// URL\n";
        return kExitUsage;
    }
    if (!to.remote && to.localFolder && !IsLocalFolder(to.local)) {
        err << "qbftp: " << to.local << "/ is not an existing folder\n";
        return kExitFailed;
    }
    bool isFolder = from.kind >= 0 ? from.kind == 1 : o.recursive;
    if (from.kind == 1 && !o.recursive) {
        err << "qbftp: " << TerminalSafe(from.url.path) << " is a folder (use -r)\n";
        return kExitUsage;
    }
    std::string name;
    if (from.remote) {
        if (from.url.path.empty()) {
            err << "qbftp: the URL must name a file or folder, not the login folder\n";
            return kExitUsage;
        }
        name = BaseName(from.url.path);
    } else {
        struct stat st {};
        if (::stat(from.local.c_str(), &st) != 0) {
            err << "qbftp: " << from.local << ": " << std::strerror(errno) << "\n";
            return kExitFailed;
        }
        if (S_ISDIR(st.st_mode) && !o.recursive) {
            err << "qbftp: " << from.local << " is a folder (use -r)\n";
            return kExitUsage;
        }
        isFolder = S_ISDIR(st.st_mode);
        name = from.local == kStdin ? std::string() : BaseName(from.local);
    }
    int status = kExitOk;
    const SiteRef source = from.remote ? s.ConnectionFor(from.url, status) : SiteRef{};
    if (from.remote && !source.IsRemote()) {
        return status;
    }
    const SiteRef dest = to.remote ? s.ConnectionFor(to.url, status) : SiteRef{};
    if (to.remote && !dest.IsRemote()) {
        return status;
    }
    CFTPFile sourceItem(from.remote ? from.url.path : from.local, source, !isFolder);
    std::string destPath;
    if (to.remote) {
        if (to.url.path.empty()) {
            destPath = name;
        } else if (to.url.trailingSlash) {
            destPath = to.url.path + "/" + name;
        } else {
            destPath = to.url.path;
        }
    } else {
        destPath = IsLocalFolder(to.local) ? to.local + "/" + name : to.local;
    }
    if (from.remote && from.kind == 0) {
        sourceItem.SetTime(from.time);
        sourceItem.m_nSize = from.size;
    } else if (from.remote && !isFolder && (o.preserve || s.ShowsProgress())) {
        // The time and the size (for the progress when the server's 150
        // reply has none) come from the listing; a folder's children have
        // theirs.
        if (const auto entry = s.LookUp(source, from.url.path); entry && entry->m_bFile) {
            sourceItem.SetTime(entry->m_time);
            sourceItem.m_nSize = entry->m_nSize;
        }
    }
    if (!from.remote && isFolder && s.ShowsProgress()) {
        s.GetConsole().SetExpectedFiles(CountLocalFiles(from.local));
    }
    CFTPFile destItem(destPath, dest, !isFolder);
    if (move && from.remote && to.remote && source.id == dest.id) {
        // Within one server a move is a rename ("RNFR"/"RNTO"), which copies
        // nothing. A rename replaces what is there, so that is looked at
        // first; where the server refuses the rename, the transfer's move
        // (copy, check, delete) does it.
        const auto there = s.LookUp(dest, destPath);
        bool rename = true;
        if (there) {
            if (o.overwrite == Question::SKIP_ALL) {
                return kExitOk;
            }
            if (o.overwrite != Question::OVERWRITE_ALL) {
                err << "qbftp: " << TerminalSafe(destPath)
                    << " exists; use --overwrite or --skip to say what to do\n";
                return kExitFailed;
            }
            rename = there->m_bFile && !isFolder;
        }
        if (rename && s.RunQuietly([&] { return s.Session().RenameTo(sourceItem, destItem); })) {
            return kExitOk;
        }
        if (rename && o.log) {
            err << "qbftp: the server refused the rename; copying instead\n";
        }
    }
    return s.Run([&] { return s.Session().Copy(sourceItem, destItem, move); }) ? kExitOk
                                                                               : kExitFailed;
}

// Downloads one remote file to standard output as it arrives. What has been
// written stays written when the transfer then fails: the exit status and
// the message on standard error tell a consumer that the stream is not
// whole.
int ToStandardOutput(Client& s, std::ostream& out, std::ostream& err, const End& from) {
    if (from.url.path.empty()) {
        err << "qbftp: the URL must name a file, not the login folder\n";
        return kExitUsage;
    }
    int status = kExitOk;
    const SiteRef site = s.ConnectionFor(from.url, status);
    if (!site.IsRemote()) {
        return status;
    }
    CFTPFile source(from.url.path, site, true);
    if (from.kind == 0) {
        source.SetTime(from.time);
        source.m_nSize = from.size;
    } else if (s.ShowsProgress()) {
        // The total for the progress when the server's 150 reply has none.
        // (The size check needs no listing: "SIZE" is asked at the end.)
        if (const auto entry = s.LookUp(site, from.url.path); entry && entry->m_bFile) {
            source.m_nSize = entry->m_nSize;
        }
    }
    out.flush(); // the engine writes to the descriptor itself
    const CFTPFile dest("standard output", SiteRef{}, true);
    if (!s.Run([&] { return s.Session().DownloadToStream(source, dest, STDOUT_FILENO); })) {
        err << "qbftp: " << TerminalSafe(from.url.path)
            << ": the download failed; what standard output received is not the whole file\n";
        return kExitFailed;
    }
    return kExitOk;
}

// The items a remote source names: itself, or what its pattern matches in
// its folder's listing (the login folder with -r: everything in it).
// False (reported) when nothing can be had.
bool ExpandSource(const Options& o, Client& s, const End& source, std::vector<End>& items,
                  std::ostream& err) {
    if (!source.remote) {
        items.push_back(source);
        return true;
    }
    const auto [parent, last] = SplitPath(source.url.path);
    const bool whole = source.url.path.empty() && o.recursive;
    if (!whole && !IsPattern(last)) {
        items.push_back(source);
        return true;
    }
    int status = kExitOk;
    const SiteRef site = s.ConnectionFor(source.url, status);
    if (!site.IsRemote()) {
        return false;
    }
    const auto content = s.List(site, whole ? std::string() : parent);
    if (!content) {
        return false;
    }
    const auto found = Matching(*content, whole ? std::string("*") : last);
    if (found.empty() && !whole) {
        err << "qbftp: nothing matches " << TerminalSafe(source.url.path) << "\n";
        return false;
    }
    for (const CFTPFile* f : found) {
        const bool folder = !f->m_bFile && f->m_strLink.empty();
        if (folder && !o.recursive) {
            err << "qbftp: " << TerminalSafe(f->GetName()) << " is a folder; left out (use -r)\n";
            continue;
        }
        End item = source;
        item.url.path = parent.empty() || whole ? f->GetName() : parent + "/" + f->GetName();
        item.kind = folder ? 1 : 0;
        item.time = f->m_time;
        item.size = f->m_nSize;
        items.push_back(item);
    }
    return true;
}

// Copies (or moves) SOURCE... DEST. Several sources, or a pattern, need a
// folder as the destination: an existing local one, or an URL that ends in
// "/". "-" is standard input as a source and standard output as the
// destination of a download.
int CopyItems(const Options& o, Client& s, std::ostream& out, std::ostream& err,
              std::vector<std::string> sources, const std::string& destText, bool move) {
    End to;
    const bool toStdout = destText == "-";
    if (!toStdout && !ParseEnd(s.Profile(), destText, to, err)) {
        return kExitUsage;
    }
    std::vector<End> items;
    bool several = sources.size() > 1;
    for (const std::string& text : sources) {
        End from;
        if (text == "-") {
            if (!to.remote || to.url.trailingSlash || to.url.path.empty() || sources.size() > 1) {
                err << "qbftp: standard input goes to one file: name it in the URL\n";
                return kExitUsage;
            }
            from.local = kStdin;
            items.push_back(from);
            continue;
        }
        if (!ParseEnd(s.Profile(), text, from, err)) {
            return kExitUsage;
        }
        const std::size_t before = items.size();
        if (!ExpandSource(o, s, from, items, err)) {
            return kExitFailed;
        }
        several = several || items.size() != before + 1 ||
                  (items.size() > before && items.back().kind >= 0);
    }
    if (toStdout) {
        if (items.size() != 1 || !items[0].remote || o.recursive || move) {
            err << "qbftp: standard output takes one remote file\n";
            return kExitUsage;
        }
        return ToStandardOutput(s, out, err, items[0]);
    }
    if (several) {
        const bool folder =
            to.remote ? (to.url.trailingSlash || to.url.path.empty()) : IsLocalFolder(to.local);
        if (!folder) {
            err << "qbftp: several items go into a folder: "
                << (to.remote ? "end the URL with \"/\"" : "an existing local folder") << "\n";
            return kExitUsage;
        }
        to.localFolder = !to.remote;
    }
    int worst = kExitOk;
    for (const End& from : items) {
        worst = std::max(worst, Transfer(o, s, err, from, to, move));
        if (s.Interrupted()) {
            break;
        }
    }
    return worst;
}

int CommandCopyOrMove(const Options& o, Client& s, std::ostream& out, std::ostream& err,
                      bool move) {
    if (o.args.size() < 2) {
        err << "qbftp: " << o.command << " takes SOURCE... DEST (try --help)\n";
        return kExitUsage;
    }
    return CopyItems(o, s, out, err, {o.args.begin(), o.args.end() - 1}, o.args.back(), move);
}

int CommandCp(const Options& o, Client& s, std::ostream& out, std::ostream& err) {
    return CommandCopyOrMove(o, s, out, err, false);
}

int CommandMv(const Options& o, Client& s, std::ostream& out, std::ostream& err) {
    return CommandCopyOrMove(o, s, out, err, true);
}

int CommandGet(const Options& o, Client& s, std::ostream& out, std::ostream& err) {
    if (o.args.empty()) {
        err << "qbftp: get takes URL... and an optional local path (try --help)\n";
        return kExitUsage;
    }
    std::vector<std::string> sources = o.args;
    std::string dest = ".";
    if (sources.size() > 1) {
        dest = sources.back();
        sources.pop_back();
    }
    for (const std::string& text : sources) {
        if (!IsFtpUrl(text) && !IsSiteUrl(text)) {
            err << "qbftp: get copies from URLs to a local path\n";
            return kExitUsage;
        }
    }
    if (IsFtpUrl(dest) || IsSiteUrl(dest)) {
        err << "qbftp: get copies from URLs to a local path\n";
        return kExitUsage;
    }
    return CopyItems(o, s, out, err, sources, dest, false);
}

int CommandPut(const Options& o, Client& s, std::ostream& out, std::ostream& err) {
    if (o.args.size() < 2) {
        err << "qbftp: put takes LOCAL... URL (try --help)\n";
        return kExitUsage;
    }
    for (std::size_t i = 0; i + 1 < o.args.size(); ++i) {
        if (IsFtpUrl(o.args[i]) || IsSiteUrl(o.args[i])) {
            err << "qbftp: put copies local paths to an URL\n";
            return kExitUsage;
        }
    }
    if (!IsFtpUrl(o.args.back()) && !IsSiteUrl(o.args.back())) {
        err << "qbftp: put copies local paths to an URL\n";
        return kExitUsage;
    }
    return CopyItems(o, s, out, err, {o.args.begin(), o.args.end() - 1}, o.args.back(), false);
}

int CommandRm(const Options& o, Client& s, std::ostream&, std::ostream& err) {
    FtpUrl url;
    if (!NeedArgs(o, 1, err) || !ParseUrlArg(s.Profile(), o.args[0], url, err)) {
        return kExitUsage;
    }
    if (url.path.empty()) {
        err << "qbftp: rm needs a file or folder in the URL\n";
        return kExitUsage;
    }
    int status = kExitOk;
    const SiteRef site = s.ConnectionFor(url, status);
    if (!site.IsRemote()) {
        return status;
    }
    std::vector<CFTPFile> items;
    const auto [parent, last] = SplitPath(url.path);
    if (IsPattern(last)) {
        const auto content = s.List(site, parent);
        if (!content) {
            return kExitFailed;
        }
        for (const CFTPFile* f : Matching(*content, last)) {
            const bool folder = !f->m_bFile && f->m_strLink.empty();
            if (folder && !o.recursive) {
                err << "qbftp: " << TerminalSafe(f->GetName()) << " is a folder; left (use -r)\n";
                continue;
            }
            items.emplace_back(parent.empty() ? f->GetName() : parent + "/" + f->GetName(), site,
                               !folder);
        }
        if (items.empty()) {
            err << "qbftp: nothing to delete matches " << TerminalSafe(url.path) << "\n";
            return kExitFailed;
        }
    } else {
        items.emplace_back(url.path, site, !o.recursive);
    }
    if (s.Run([&] { return s.Session().Delete(items); })) {
        return kExitOk;
    }
    if (o.recursive) {
        // A folder left behind whose listing shows nothing still holds what
        // the server does not list (names that start with "."): say which.
        std::vector<std::string> pending;
        for (const CFTPFile& item : items) {
            if (!item.m_bFile) {
                pending.push_back(item.GetPath(false));
            }
        }
        for (int looked = 0; !pending.empty() && looked < 200; ++looked) {
            const std::string path = pending.back();
            pending.pop_back();
            const auto content = s.List(site, path);
            if (!content) {
                continue;
            }
            if (content->GetFiles().GetSize() == 0 && content->GetFolders().GetSize() == 0) {
                err << "qbftp: " << TerminalSafe(path)
                    << " is not empty for the server, though its listing shows nothing: it "
                       "holds hidden entries (names that start with \".\") that the listing "
                       "leaves out, so they could not be deleted\n";
            }
            for (std::size_t i = 0; i < content->GetFolders().GetSize(); ++i) {
                pending.push_back(path + "/" + content->GetFolders().GetAt(i)->GetName());
            }
        }
    }
    return kExitFailed;
}

int CommandRename(const Options& o, Client& s, std::ostream&, std::ostream& err) {
    FtpUrl url;
    if (!NeedArgs(o, 2, err) || !ParseUrlArg(s.Profile(), o.args[0], url, err)) {
        return kExitUsage;
    }
    const std::string& newName = o.args[1];
    if (url.path.empty() || newName.empty() || newName.find('/') != std::string::npos) {
        err << "qbftp: rename needs an item in the URL and a new name without \"/\"\n";
        return kExitUsage;
    }
    int status = kExitOk;
    const SiteRef site = s.ConnectionFor(url, status);
    if (!site.IsRemote()) {
        return status;
    }
    // Whether it is a file matters only for the paths of VMS servers.
    CFTPFile item(url.path, site, !url.trailingSlash);
    return s.Run([&] { return s.Session().Rename(item, newName); }) ? kExitOk : kExitFailed;
}

void PrintSiteFolder(const CFTPSiteFolder& folder, int depth, std::ostream& out) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    for (const auto& sub : folder.GetSiteFolders()) {
        out << indent << sub->GetLabel() << "/\n";
        PrintSiteFolder(*sub, depth + 1, out);
    }
    for (const auto& site : folder.GetSites()) {
        out << indent << site->GetLabel() << "  " << site->m_strHost << ":" << site->m_nPort;
        if (site->m_bAnonymous) {
            out << "  anonymous";
        } else if (!site->m_strUser.empty()) {
            out << "  user " << site->m_strUser;
        }
        out << "\n";
    }
}

void PrintSitesJson(const CFTPSiteFolder& folder, const std::string& path, std::ostream& out) {
    for (const auto& sub : folder.GetSiteFolders()) {
        PrintSitesJson(*sub, path + sub->GetLabel() + "/", out);
    }
    for (const auto& site : folder.GetSites()) {
        out << "{\"site\":" << JsonString(path + site->GetLabel())
            << ",\"host\":" << JsonString(site->m_strHost) << ",\"port\":" << site->m_nPort
            << ",\"anonymous\":" << (site->m_bAnonymous ? "true" : "false");
        if (!site->m_bAnonymous) {
            out << ",\"user\":" << JsonString(site->m_strUser);
        }
        out << ",\"folder\":" << JsonString(site->m_strLoginFolder)
            << ",\"firewall\":" << (site->m_bInsideFirewall ? "false" : "true")
            << ",\"tls\":" << JsonString(TlsModeName(site->m_security.tls))
            << ",\"epsv\":" << (site->m_security.epsv ? "true" : "false")
            << ",\"fingerprint\":" << JsonString(site->m_security.fingerprint) << "}\n";
    }
}

// "Folder/Sub/Site" split into the folder path and the last label.
std::pair<std::string, std::string> SplitLabel(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos
               ? std::pair<std::string, std::string>{std::string(), path}
               : std::pair<std::string, std::string>{path.substr(0, slash), path.substr(slash + 1)};
}

// Saves the profile the way the window does; false (reported) on failure.
bool SaveSites(Client& s, std::ostream& err) {
    if (s.Profile().SaveProfile(nullptr) != CFTPProfile::SAVE_DONE) {
        err << "qbftp: the profile " << s.Profile().GetPath() << " could not be saved"
            << (s.Profile().GetLastSaveError().empty() ? "" : ": " + s.Profile().GetLastSaveError())
            << "\n";
        return false;
    }
    return true;
}

int SitesAdd(const Options& o, Client& s, std::ostream& err) {
    if (o.args.size() != 3) {
        err << "qbftp: sites add takes \"Folder/Site\" and ftp://[user@]host[:port]/path\n";
        return kExitUsage;
    }
    const auto [folderPath, label] = SplitLabel(o.args[1]);
    FtpUrl url;
    std::string error;
    if (label.empty() || !ParseFtpUrl(o.args[2], url, error)) {
        err << "qbftp: " << (label.empty() ? "the site needs a name" : error) << "\n";
        return kExitUsage;
    }
    std::string password = url.password;
    if (!url.user.empty() && !url.hasPassword) {
        if (const char* env = std::getenv("QBFTP_PASSWORD")) {
            password = env;
        } else if (!AskPassword("Password for " + url.user + "@" + url.host + ": ", password)) {
            err << "qbftp: no password for " << url.user
                << " (set QBFTP_PASSWORD or run on a terminal)\n";
            return kExitUsage;
        }
    }
    CFTPSiteFolder* folder = &s.Profile();
    std::string walked;
    for (std::size_t at = 0; !folderPath.empty() && at != std::string::npos;) {
        const auto slash = folderPath.find('/', at);
        const std::string part =
            folderPath.substr(at, slash == std::string::npos ? slash : slash - at);
        at = slash == std::string::npos ? slash : slash + 1;
        walked += (walked.empty() ? "" : "/") + part;
        CFTPSiteFolder* next = folder->FindSiteFolder(part);
        if (!next) {
            if (part.empty() || folder->HasLabel(part)) {
                err << "qbftp: \"" << walked << "\" cannot be a site folder\n";
                return kExitUsage;
            }
            folder->AddSiteFolder(std::make_unique<CFTPSiteFolder>(part, std::string()));
            next = folder->FindSiteFolder(part);
        }
        folder = next;
    }
    if (folder->HasLabel(label)) {
        err << "qbftp: \"" << o.args[1] << "\" is in the profile already\n";
        return kExitFailed;
    }
    // The URL's path is relative to the home folder, as the login folder is.
    std::unique_ptr<CFTPSite> site =
        url.user.empty() ? std::make_unique<CFTPSite>(label, url.host, !o.passive, url.path,
                                                      url.port, std::string())
                         : std::make_unique<CFTPSite>(label, url.host, !o.passive, url.user,
                                                      password, url.path, url.port, std::string());
    // TLS and EPSV as the options and the URL say; the defaults otherwise.
    if (url.implicitTls) {
        site->m_security.tls = SiteSecurity::Tls::Implicit;
    } else if (o.tlsGiven) {
        site->m_security.tls =
            o.tls == FirewallSettings::Tls::Explicit   ? SiteSecurity::Tls::Explicit
            : o.tls == FirewallSettings::Tls::Implicit ? SiteSecurity::Tls::Implicit
                                                       : SiteSecurity::Tls::None;
    }
    site->m_security.epsv = o.extendedData;
    folder->AddSite(std::move(site));
    return SaveSites(s, err) ? kExitOk : kExitFailed;
}

int SitesRemove(const Options& o, Client& s, std::ostream& err) {
    if (o.args.size() != 2) {
        err << "qbftp: sites remove takes \"Folder/Site\"\n";
        return kExitUsage;
    }
    const auto [folderPath, label] = SplitLabel(o.args[1]);
    CFTPSiteFolder* folder = s.Profile().FindSiteFolder(folderPath);
    bool removed = false;
    if (folder && folder->FindSite(label)) {
        removed = folder->RemoveSite(label);
    } else if (folder && folder->FindSiteFolder(label)) {
        if (!o.recursive) {
            err << "qbftp: \"" << o.args[1] << "\" is a folder of sites (use -r)\n";
            return kExitUsage;
        }
        removed = folder->RemoveSiteFolder(label);
    }
    if (!removed) {
        err << "qbftp: no site \"" << o.args[1] << "\" in the profile\n";
        return kExitFailed;
    }
    return SaveSites(s, err) ? kExitOk : kExitFailed;
}

int SitesRename(const Options& o, Client& s, std::ostream& err) {
    if (o.args.size() != 3 || o.args[2].empty() || o.args[2].find('/') != std::string::npos) {
        err << "qbftp: sites rename takes \"Folder/Site\" and a new name without \"/\"\n";
        return kExitUsage;
    }
    const auto [folderPath, label] = SplitLabel(o.args[1]);
    CFTPSiteFolder* folder = s.Profile().FindSiteFolder(folderPath);
    if (!folder || (!folder->FindSite(label) && !folder->FindSiteFolder(label))) {
        err << "qbftp: no site \"" << o.args[1] << "\" in the profile\n";
        return kExitFailed;
    }
    if (folder->HasLabel(o.args[2])) {
        err << "qbftp: \"" << o.args[2] << "\" is taken in that folder\n";
        return kExitFailed;
    }
    const bool renamed = folder->FindSite(label)
                             ? folder->RenameSite(label, o.args[2], nullptr)
                             : folder->RenameSiteFolder(label, o.args[2], nullptr);
    if (!renamed) {
        err << "qbftp: the site could not be renamed\n";
        return kExitFailed;
    }
    return SaveSites(s, err) ? kExitOk : kExitFailed;
}

int CommandSites(const Options& o, Client& s, std::ostream& out, std::ostream& err) {
    if (!o.args.empty()) {
        if (o.args[0] == "add") {
            return SitesAdd(o, s, err);
        }
        if (o.args[0] == "remove") {
            return SitesRemove(o, s, err);
        }
        if (o.args[0] == "rename") {
            return SitesRename(o, s, err);
        }
        err << "qbftp: sites takes add, remove or rename (try sites --help)\n";
        return kExitUsage;
    }
    if (o.json) {
        PrintSitesJson(s.Profile(), std::string(), out);
    } else {
        PrintSiteFolder(s.Profile(), 0, out);
    }
    return kExitOk;
}

using Command = int (*)(const Options&, Client&, std::ostream&, std::ostream&);

const std::map<std::string, Command>& Commands() {
    static const std::map<std::string, Command> commands = {
        {"ls", CommandLs},   {"mkdir", CommandMkdir},   {"get", CommandGet},
        {"put", CommandPut}, {"cp", CommandCp},         {"mv", CommandMv},
        {"rm", CommandRm},   {"rename", CommandRename}, {"sites", CommandSites},
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
             const std::atomic<bool>& interrupted, int interruptFd) {
    Options options;
    bool done = false;
    int status = kExitOk;
    if (!ParseOptions(args, options, out, err, done, status)) {
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
    Console console(err, options.log);
    console.SetInterruptDescriptor(interruptFd);
    EngineOptions engine;
    engine.replyTimeout = std::chrono::seconds(options.timeout);
    engine.maxConnectAttempts = static_cast<unsigned>(options.retries) + 1;
    // A file on the server is never replaced unasked, as a local one is not.
    engine.checkUploadTarget = true;
    engine.preserveDownloadTime = options.preserve;
    // A command lists the folders it needs; the login folder only when that
    // is one of them.
    engine.listLoginFolder = false;
    // Whether the server resumes matters only to a command that copies.
    engine.probeResume = options.command != "ls" && options.command != "mkdir" &&
                         options.command != "rm" && options.command != "rename";
    CFTPSession session(&console, engine);
    // qbftp reads the profile and never writes it, renames it or sets it
    // aside: a profile it cannot read is the user's to deal with.
    session.SetSaveProfileAtExit(false);
    CommandLineInfo info;
    info.m_strFileName = options.profile;
    // Only the commands that change the sites save it, the way the window
    // does (an unreadable file is then set aside as ".bad").
    const bool changesSites =
        options.command == "sites" && !options.args.empty() &&
        (options.args[0] == "add" || options.args[0] == "remove" || options.args[0] == "rename");
    info.m_bReadOnlyProfile = !changesSites;
    if (!session.OpenProfile(info)) {
        return kExitUsage;
    }
    const std::string note = session.TakeLoadNote();
    if (!note.empty()) {
        err << "qbftp: " << note << "\n";
    }
    {
        // For this run only (the profile is not saved): the dialogue goes to
        // --log in full and without host names, and the transfer mode is the
        // command line's when it names one.
        CFTPProfile& profile = *session.GetProfile();
        SharedSettings settings = profile.GetSharedSettings();
        settings.m_bLogCommands = true;
        settings.m_bLogResponses = true;
        settings.m_bLogHostAddress = false;
        if (options.transferMode >= 0) {
            settings.m_wTransferMode = static_cast<std::uint16_t>(options.transferMode);
        }
        profile.SetSharedSettings(std::move(settings));
    }
    if (!session.Start()) {
        err << "qbftp: the connections could not be started\n";
        return kExitFailed;
    }
    int result = kExitFailed;
    {
        Client client(options, session, console, err, interrupted);
        result = it->second(options, client, out, err);
    }
    session.Exit();
    return interrupted.load() ? kExitInterrupted : result;
}

} // namespace qb::cli
