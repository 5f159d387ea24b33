// The reporter: log lines of the FTP dialogue, and the hand-over of finished
// actions and operations to the windows.
#pragma once

#include "engine/constants.h"
#include "engine/frontend.h"
#include "platform/types.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace qb {

class CFTPAction;
class CFTPActionCallerData;
class CFTPRemoteManager;

class CFTPSecretary : public CFTPConstants {
public:
    explicit CFTPSecretary(const FrontEnd& frontEnd) : m_frontEnd(frontEnd) {}
    virtual ~CFTPSecretary() = default;
    CFTPSecretary(const CFTPSecretary&) = delete;
    CFTPSecretary& operator=(const CFTPSecretary&) = delete;

    // Logs the lines of one reply, kept together.
    virtual bool LogReply(const CFTPRemoteManager* connection,
                          const std::vector<std::string>& lines);
    // Logs one command as sent, the password hidden.
    virtual bool LogCommand(const CFTPRemoteManager* connection, const std::string& line);
    virtual void PostNote(const std::string& text);
    // Each finished action, on its connection thread, under the manager's lock.
    virtual void ActionDone(CFTPAction& action);
    // The end of a whole operation.
    virtual void OperationDone(OperationId id, std::uint16_t kind,
                               CFTPActionCallerData* callerData);

    // A command line as the log shows it: "PASS" followed by as many "X" as
    // the password has characters.
    static std::string HidePassword(const std::string& line);

    std::atomic<bool> m_bShutdown{false};

private:
    const FrontEnd m_frontEnd;
    std::mutex m_lock;
};

} // namespace qb
