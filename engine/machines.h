// The step machines of the action kinds, as the connection thread enters
// them, and the helpers they share.
#pragma once

#include "engine/remote_manager.h"

#include <ctime>
#include <string>

namespace qb {

// Connect and login.
void StartConnect(CFTPRemoteManager& c, CFTPAction& action);
void ReplyConnect(CFTPRemoteManager& c, CFTPAction& action, const ReplyLines& lines, unsigned code);
// The server type from the reply to "SYST" (0 unless it has one line).
int IdentifyServer(const ReplyLines& lines);
// What a "FEAT" reply names (RFC 2389); lines that are no feature lines
// are ignored, names compare without regard to case.
struct FeatureList {
    bool mlsd = false; // MLST or MLSD
    bool utf8 = false;
    bool epsv = false;
    bool mdtm = false;
};
FeatureList ServerFeatures(const ReplyLines& lines);
// The time in a reply to "MDTM" ("213 YYYYMMDDHHMMSS[.fff]", UTC, RFC 3659);
// false for another reply or a time that is not one.
bool ParseMdtmReply(const ReplyLines& lines, unsigned code, std::time_t& seconds, long& nanos);
// The folder quoted in a "PWD" reply; false (and "") when nothing is quoted.
bool ParsePwdReply(const std::string& line, std::string& path);

// The folder machines (change, create, ensure, explore).
void RegisterFolderMachines(HandlerTable& table);
// Delete and rename.
void RegisterDeleteRenameMachines(HandlerTable& table);
// Copies and moves.
void RegisterTransferMachines(HandlerTable& table);

// Data connection steps shared by explore and the transfers.
// Sends "EPSV" (or "PASV" when extended commands are off or were refused),
// or opens the listening socket and sends "PORT" ("EPRT" over IPv6 or once
// "PORT" was refused); false (the action has failed) when no port could be
// opened.
bool SendDataCommand(CFTPRemoteManager& c);
// A refusal (5xx) of "EPSV" or "PORT": the connection remembers it and
// sends "PASV" or "EPRT" instead; the step waits on for that reply. False
// when the reply is not such a refusal.
bool RetryRefusedDataCommand(CFTPRemoteManager& c, unsigned code);
// The reply to the data command: connects in passive mode. False with a
// reason in `error` (possibly empty) when the data connection cannot be had.
bool OpenDataConnection(CFTPRemoteManager& c, const ReplyLines& lines, unsigned code,
                        std::string& error);
// After the transfer's final reply: receives what is left and closes the
// data connection. False with the reason when the data could not be stored.
bool DrainDataConnection(CFTPRemoteManager& c, std::string& error);

} // namespace qb
