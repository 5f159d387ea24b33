// The connect machine: control connection, login (directly or through a
// firewall proxy), login folder, resume probe, server type, home folder, and
// the listing of the login folder as a sub-action.
#include "dispatch/actions.h"
#include "dispatch/manager.h"
#include "engine/machines.h"
#include "engine/question_desk.h"
#include "engine/steps.h"
#include "platform/questions.h"

#include <cctype>

namespace qb {

namespace {

using K = CFTPConstants;

bool ViaProxy(const CFTPRemoteManager& c) {
    return c.m_firewall.enabled && c.m_firewall.type != 5;
}

using TlsMode = FirewallSettings::Tls;

// A refusal that ends the connect for good (no new attempt).
void FailForGood(CFTPRemoteManager& c, CFTPActionConnect& connect, const std::string& why) {
    connect.m_bNoRestart = true;
    c.Fail(K::RESULT_FAILED, 0, {why});
}

std::string CertificateText(const net::CertificateInfo& cert) {
    return "Subject: " + cert.subject + "\nIssuer: " + cert.issuer + "\nValid from " +
           cert.notBefore + " to " + cert.notAfter + "\nSHA-256 fingerprint: " + cert.fingerprint;
}

// The server's certificate after the handshake: verified, kept by the
// user, accepted by the site's settings, or asked about. False (the connect
// has failed) when it is refused.
bool CheckCertificate(CFTPRemoteManager& c, CFTPActionConnect& connect) {
    const net::TlsStream& tls = *c.m_pCtrlSocket->Tls();
    const net::CertificateInfo& cert = tls.Certificate();
    const FirewallSettings& settings = c.m_firewall;
    const bool kept = !settings.keptFingerprint.empty() && !cert.fingerprint.empty() &&
                      settings.keptFingerprint == cert.fingerprint;
    const bool changed = !settings.keptFingerprint.empty() && !kept;
    c.PostNote("Connection encrypted: " + tls.Description() + ".");
    if ((cert.verified && !changed) || kept) {
        if (kept && !cert.verified) {
            c.PostNote("The server's certificate (" + cert.problem +
                       ") is the one kept for this site.");
        }
        return true;
    }
    const std::string problem = changed ? "the certificate differs from the one kept for this "
                                          "site"
                                        : cert.problem;
    if (settings.acceptAnyCertificate && !changed) {
        c.PostNote("The server's certificate is taken without verification: " + problem + ".");
        return true;
    }
    Question question;
    question.kind = Question::Kind::Certificate;
    question.fingerprint = cert.fingerprint;
    question.changed = changed;
    question.text = (changed ? "WARNING: the certificate of " + connect.m_strHost +
                                   " HAS CHANGED since it was accepted. Someone may be "
                                   "intercepting the connection.\n"
                             : "The certificate of " + connect.m_strHost +
                                   " cannot be verified: " + problem + ".\n") +
                    CertificateText(cert) + "\n";
    const int answer = c.Ask(question);
    if (answer == Question::CERT_ACCEPT_ALWAYS) {
        c.m_firewall.keptFingerprint = cert.fingerprint;
        c.PostNote("The certificate " + cert.fingerprint + " is kept for " + connect.m_strHost +
                   ".");
        return true;
    }
    if (answer == Question::CERT_ACCEPT_ONCE) {
        c.PostNote("The certificate is accepted for this connection.");
        return true;
    }
    FailForGood(c, connect,
                "The server's certificate was refused: " + problem + ".\n" + CertificateText(cert));
    return false;
}

// TLS on the open control connection; false (failed) when the handshake or
// the certificate fails.
bool StartTls(CFTPRemoteManager& c, CFTPActionConnect& connect) {
    std::string error;
    if (!c.m_pCtrlSocket->StartTls(c.m_firewall.caFile, error)) {
        if (c.IsStopping()) {
            c.FinishAction();
            return false;
        }
        FailForGood(c, connect, error);
        return false;
    }
    return CheckCertificate(c, connect);
}

void SendUser(CFTPRemoteManager& c, CFTPActionConnect& connect) {
    c.SetStep(connect, STEP_USER);
    c.SendCommand(K::CMD_USER, connect.m_strUser);
}

void SetFolders(CFTPRemoteManager& c, CFTPActionConnect& connect, const ReplyLines& lines) {
    std::string home;
    if (!lines.empty()) {
        ParsePwdReply(lines[0], home);
    }
    c.m_pHomeFolder = std::make_unique<CFTPFile>(home, c.Ref(), false);
    c.m_pWorkFolder = std::make_unique<CFTPFile>("", c.Ref(), false);
    c.m_strWorkRealPath = home;
    if (!c.GetOptions().listLoginFolder) {
        c.FinishAction();
        return;
    }
    connect.m_pSubAction = std::make_unique<CFTPActionDir>(connect.m_nID, connect.m_pCallerData,
                                                           c.m_pWorkFolder.get(), true, false);
    c.SetStep(connect, STEP_LOGIN_LIST);
    if (!c.GetManager()->PushFront(&c, connect.m_pSubAction.get())) {
        connect.DeleteSubAction();
        c.Fail(K::RESULT_FAILED, 0, {});
        return;
    }
    c.m_pAction = nullptr;
    c.Post(K::RMM_NEXT);
}

void AskSystem(CFTPRemoteManager& c, CFTPActionConnect& connect) {
    c.SendCommand(K::CMD_SYST, std::string());
    c.SetStep(connect, STEP_SYST);
}

// The resume probe. Some servers refuse "REST" while the type is ASCII (the
// type after login) though they resume binary transfers, so "TYPE I" goes
// first; its reply is only logged.
void BeginRestProbe(CFTPRemoteManager& c, CFTPActionConnect& connect) {
    if (!c.GetOptions().probeResume) {
        c.m_bResume = false;
        AskSystem(c, connect);
        return;
    }
    c.SendCommand(K::CMD_TYPE, std::string("I"));
    connect.m_bProbeTypeSent = true;
    c.SetStep(connect, STEP_REST_PROBE);
}

// After "FEAT" (and "OPTS UTF8"): the login folder or the resume probe.
void AfterFeatures(CFTPRemoteManager& c, CFTPActionConnect& connect) {
    if (!connect.m_strFolder.empty()) {
        c.SendCommand(K::CMD_CWD_AS_GIVEN, connect.m_strFolder);
        c.SetStep(connect, STEP_LOGIN_CWD);
    } else {
        BeginRestProbe(c, connect);
    }
}

// "FEAT" first when the site allows it; a server that does not know it
// answers with an error, which only means: no extensions.
void AskFeatures(CFTPRemoteManager& c, CFTPActionConnect& connect) {
    if (c.m_firewall.features) {
        c.SendCommand(K::CMD_FEAT, std::string());
        c.SetStep(connect, STEP_FEAT);
    } else {
        AfterFeatures(c, connect);
    }
}

// Over TLS the data connections are protected first ("PBSZ 0", "PROT P").
void AfterLogin(CFTPRemoteManager& c, CFTPActionConnect& connect) {
    if (c.m_pCtrlSocket->Tls()) {
        c.SendCommand(K::CMD_PBSZ, std::string("0"));
        c.SetStep(connect, STEP_PBSZ);
    } else {
        AskFeatures(c, connect);
    }
}

// Steps 8 to 14: the same with or without a proxy. False when the reply
// does not fit the step.
bool ReplyLogin(CFTPRemoteManager& c, CFTPActionConnect& connect, const ReplyLines& lines,
                unsigned code) {
    switch (connect.m_nStep) {
    case STEP_USER:
        if (code == 230) {
            AfterLogin(c, connect);
            return true;
        }
        if (code == 331) {
            c.SendCommand(K::CMD_PASS, connect.m_strPassword);
            c.SetStep(connect, STEP_PASS);
            return true;
        }
        return false;
    case STEP_PASS:
        if (code == 230) {
            AfterLogin(c, connect);
            return true;
        }
        return false;
    case STEP_PBSZ:
        c.SendCommand(K::CMD_PROT, std::string("P"));
        c.SetStep(connect, STEP_PROT);
        return true;
    case STEP_PROT:
        if (code / 100 == 2) {
            c.m_bProtectData = true;
        } else if (c.m_firewall.tls == TlsMode::IfAvailable) {
            c.PostNote("The server refused PROT P: data connections are not encrypted.");
        } else {
            FailForGood(c, connect,
                        "The server refused to encrypt the data connections (PROT P): " +
                            (lines.empty() ? std::to_string(code) : lines.front()));
            return true;
        }
        AskFeatures(c, connect);
        return true;
    case STEP_FEAT:
        if (code / 100 == 2) {
            const FeatureList features = ServerFeatures(lines);
            c.m_features.mlsd = features.mlsd;
            c.m_features.mdtm = features.mdtm;
            if (features.utf8) {
                c.SendCommand(K::CMD_OPTS, std::string("UTF8 ON"));
                c.SetStep(connect, STEP_OPTS_UTF8);
                return true;
            }
        }
        AfterFeatures(c, connect);
        return true;
    case STEP_OPTS_UTF8:
        // Some servers answer 202 (always on) or refuse; names are UTF-8
        // where the server named the feature either way.
        c.m_features.utf8 = true;
        if (code / 100 != 2) {
            c.PostNote("The server refused OPTS UTF8 ON; names are taken as UTF-8 all the same.");
        }
        AfterFeatures(c, connect);
        return true;
    case STEP_LOGIN_CWD:
        if (code != 250) {
            c.ShowMessage("Failed to change initial remote folder!\n" +
                              (lines.empty() ? std::string() : lines[0]),
                          MB_OK | MB_ICONWARNING);
        }
        BeginRestProbe(c, connect);
        return true;
    case STEP_REST_PROBE:
        if (connect.m_bProbeTypeSent) {
            connect.m_bProbeTypeSent = false;
            c.SendCommand(K::CMD_REST, std::uint64_t{100});
            return true;
        }
        if (code == 350) {
            c.m_bResume = true;
            c.SendCommand(K::CMD_REST, std::uint64_t{0});
            c.SetStep(connect, STEP_REST_RESET);
        } else {
            c.m_bResume = false;
            AskSystem(c, connect);
        }
        return true;
    case STEP_REST_RESET:
        AskSystem(c, connect);
        return true;
    case STEP_SYST:
        if (code >= 200 && code <= 299) {
            c.m_nServerType = IdentifyServer(lines);
        }
        c.SendCommand(K::CMD_PWD, std::string());
        c.SetStep(connect, STEP_PWD);
        return true;
    case STEP_PWD:
        if (code == 257) {
            SetFolders(c, connect, lines);
            return true;
        }
        return false;
    default:
        return false;
    }
}

bool ReplyProxy(CFTPRemoteManager& c, CFTPActionConnect& connect, unsigned code) {
    const FirewallSettings& fw = c.m_firewall;
    const bool positive = K::IsPositiveReply(code);
    const std::string userAtHost = connect.m_strUser + "@" + connect.m_strHost;
    switch (connect.m_nStep) {
    case STEP_PROXY_WELCOME:
        if (!positive) {
            return false;
        }
        if (fw.type == 1 || fw.type == 2) {
            c.SetStep(connect, STEP_PROXY_USER);
            c.SendCommand(K::CMD_USER, fw.proxyUser);
        } else if (fw.type == 3) {
            c.SetStep(connect, STEP_USER);
            c.SendCommand(K::CMD_USER, userAtHost);
            c.m_pCtrlSocket->SetHostName(connect.m_strHost);
        } else {
            c.SetStep(connect, STEP_WELCOME);
            c.SendCommand(K::CMD_OPEN, connect.m_strHost);
            c.m_pCtrlSocket->SetHostName(connect.m_strHost);
        }
        return true;
    case STEP_PROXY_USER:
        if (!positive) {
            return false;
        }
        c.SetStep(connect, STEP_PROXY_PASS);
        c.SendCommand(K::CMD_PASS, fw.proxyPassword);
        return true;
    case STEP_PROXY_PASS:
        if (!positive || (fw.type != 1 && fw.type != 2)) {
            return false;
        }
        c.GetFrontEnd().Settings().RememberProxyLogin(fw.proxyHost, fw.proxyPort, fw.proxyUser,
                                                      fw.proxyPassword);
        if (fw.type == 1) {
            c.SetStep(connect, STEP_WELCOME);
            c.SendCommand(K::CMD_SITE, connect.m_strHost);
        } else {
            c.SetStep(connect, STEP_USER);
            c.SendCommand(K::CMD_USER, userAtHost);
        }
        c.m_pCtrlSocket->SetHostName(connect.m_strHost);
        return true;
    case STEP_WELCOME:
        if (!positive) {
            return false;
        }
        c.SetStep(connect, STEP_USER);
        c.SendCommand(K::CMD_USER, connect.m_strUser);
        return true;
    default:
        return false;
    }
}

} // namespace

void StartConnect(CFTPRemoteManager& c, CFTPAction& action) {
    auto& connect = static_cast<CFTPActionConnect&>(action);
    if (connect.m_nStep == STEP_LOGIN_LIST) {
        if (!connect.GetFolderContent()) {
            connect.SetResult(K::RESULT_CONNECT_7, {});
        }
        c.FinishAction();
        return;
    }
    if (connect.m_nStep != STEP_TRY_CONNECT) {
        c.Fail(K::RESULT_FAILED, 0, {});
        return;
    }
    c.m_pCtrlSocket->Close();
    c.m_replyQueue.clear(); // what the last attempt's server said is over
    c.m_features = {};
    c.m_nDataCommand = -1;
    c.m_bProtectData = false;
    if (c.m_firewall.tls == TlsMode::IfAvailable && ViaProxy(c)) {
        // TLS is only wanted where it can be had: through a proxy it cannot.
        c.m_firewall.tls = TlsMode::None;
        c.PostNote("TLS is left out: the connection goes through a firewall proxy.");
    }
    if (c.m_firewall.tls != TlsMode::None && ViaProxy(c)) {
        FailForGood(c, connect, "TLS does not go through a firewall proxy; turn one of them off.");
        return;
    }
    const bool proxy = ViaProxy(c);
    c.SetStep(connect, proxy ? STEP_CONTACT_PROXY : STEP_CONTACT_HOST);
    std::string error;
    const bool connected =
        proxy ? c.m_pCtrlSocket->ConnectTo(c.m_firewall.proxyHost, c.m_firewall.proxyPort, &error)
              : c.m_pCtrlSocket->ConnectTo(connect.m_strHost, connect.m_nPort, &error);
    if (!connected) {
        if (c.IsStopping()) {
            c.FinishAction();
            return;
        }
        // The reason (refused, unknown host, ...) goes with the failure.
        c.Fail(K::RESULT_CONNECT_6, 0, error.empty() ? ReplyLines{} : ReplyLines{error});
        return;
    }
    if (c.IsStopping()) {
        c.FinishAction();
        return;
    }
    if (c.m_firewall.tls == TlsMode::Implicit && !StartTls(c, connect)) {
        return;
    }
    c.SetStep(connect, proxy ? STEP_PROXY_WELCOME : STEP_WELCOME);
    // The welcome is due without a command.
    c.AwaitReply();
}

void ReplyConnect(CFTPRemoteManager& c, CFTPAction& action, const ReplyLines& lines,
                  unsigned code) {
    auto& connect = static_cast<CFTPActionConnect&>(action);
    bool handled = false;
    const std::uint16_t step = connect.m_nStep;
    if ((step >= STEP_USER && step <= STEP_PWD) || step == STEP_FEAT || step == STEP_OPTS_UTF8 ||
        step == STEP_PBSZ || step == STEP_PROT) {
        handled = ReplyLogin(c, connect, lines, code);
    } else if (ViaProxy(c)) {
        handled = ReplyProxy(c, connect, code);
    } else if (step == STEP_WELCOME && code == 220) {
        const TlsMode tls = c.m_firewall.tls;
        if (tls == TlsMode::IfAvailable || tls == TlsMode::Explicit) {
            c.SendCommand(K::CMD_AUTH, std::string("TLS"));
            c.SetStep(connect, STEP_AUTH_TLS);
        } else {
            SendUser(c, connect);
        }
        handled = true;
    } else if (step == STEP_AUTH_TLS) {
        if (code == 234) {
            if (StartTls(c, connect)) {
                SendUser(c, connect);
            }
        } else if (c.m_firewall.tls == TlsMode::Explicit) {
            FailForGood(c, connect,
                        "The server refused AUTH TLS, and this site requires TLS: " +
                            (lines.empty() ? std::to_string(code) : lines.front()));
        } else {
            c.PostNote("The server does not offer TLS; the connection goes on in plain text.");
            SendUser(c, connect);
        }
        handled = true;
    }
    if (!handled) {
        c.Fail(K::RESULT_FAILED, code, lines);
    }
}

int IdentifyServer(const ReplyLines& lines) {
    if (lines.size() != 1) {
        return K::SERVER_UNIX;
    }
    const std::string text = lines[0].size() > 4 ? lines[0].substr(4) : std::string();
    auto begins = [&](const char* p) { return text.rfind(p, 0) == 0; };
    auto contains = [&](const char* p) { return text.find(p) != std::string::npos; };
    if (begins("UNIX Type: L8 MAC-OS MachTen")) {
        return K::SERVER_UNSUPPORTED_5;
    }
    if (contains("UNIX")) {
        return K::SERVER_UNIX_SYST;
    }
    if (contains("Windows_NT")) {
        return K::SERVER_NT;
    }
    if (begins("VMS")) {
        return K::SERVER_VMS;
    }
    if (begins("VM/CMS")) {
        return K::SERVER_UNSUPPORTED_6;
    }
    if (begins("DCTS")) {
        return K::SERVER_UNSUPPORTED_2;
    }
    if (contains("MAC-OS TCP/Connect II")) {
        return K::SERVER_UNSUPPORTED_7;
    }
    if (begins("MACOS Peter's Server")) {
        return K::SERVER_MACOS_PETER;
    }
    if (begins("MACOS WebSTAR FTP")) {
        return K::SERVER_MACOS_WEBSTAR;
    }
    return K::SERVER_UNIX;
}

FeatureList ServerFeatures(const ReplyLines& lines) {
    FeatureList features;
    // "211-Features:", then one feature per line after a space, then "211 End".
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.empty() || line[0] != ' ') {
            continue;
        }
        const auto start = line.find_first_not_of(' ');
        if (start == std::string::npos) {
            continue;
        }
        const auto end = line.find(' ', start);
        std::string name = line.substr(start, end == std::string::npos ? end : end - start);
        for (char& ch : name) {
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        }
        if (name == "MLST" || name == "MLSD") {
            features.mlsd = true;
        } else if (name == "UTF8") {
            features.utf8 = true;
        } else if (name == "EPSV") {
            features.epsv = true;
        } else if (name == "MDTM") {
            features.mdtm = true;
        }
    }
    return features;
}

bool ParsePwdReply(const std::string& line, std::string& path) {
    path.clear();
    auto quote = line.find('"');
    if (quote == std::string::npos) {
        return false;
    }
    for (std::size_t i = quote + 1; i < line.size(); ++i) {
        if (line[i] == '"') {
            if (i + 1 < line.size() && line[i + 1] == '"') {
                path += '"';
                ++i;
                continue;
            }
            break;
        }
        path += line[i];
    }
    if (!path.empty() && path.back() == '/') {
        path.pop_back();
    }
    return true;
}

} // namespace qb
