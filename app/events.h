// What the core tells a front end, as values: the events of the session's
// queue. Each event owns what it carries (copies, or snapshots that nobody
// changes any more), so it can cross to the front end's thread freely.
#pragma once

#include "engine/frontend.h"
#include "engine/ftp_file.h"
#include "engine/question_desk.h"
#include "platform/types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace qb {

// Colour classes of the log lines.
enum LogLineClass : int {
    LOG_COMMAND = 0, // red
    LOG_REPLY = 1,   // blue
    LOG_NOTE = 2,    // black
};

struct LogLine {
    LogLineClass lineClass = LOG_NOTE;
    std::string text;
};

namespace event {

// Lines for the activity log, oldest first. Lines that arrive while an
// earlier batch waits join it.
struct LogLines {
    std::vector<LogLine> lines;
};

// The status lanes changed: read them from the session. At most one waits.
struct StatusChanged {};

// A connect or an explore has ended; `content` is the listing it produced
// (none when it failed).
struct Listing {
    OperationId operation = 0;
    ConnectionId connection = kNoConnection;
    bool connect = false; // the listing of the login folder
    bool succeeded = false;
    std::shared_ptr<const CFTPFolderContent> content;
};

// Files and folders created or deleted, locally or on a site. Changes in
// one folder that follow each other arrive as one event.
struct ItemChange {
    enum Kind { Created, Deleted };
    Kind kind = Created;
    // A remote item, or a local one (no connection; its full path as name).
    CFTPFile item{std::string(), SiteRef{}, true};
};
struct ItemsChanged {
    std::vector<ItemChange> changes;
};

// A rename went through (also one that took effect after a stop).
struct Renamed {
    std::string oldName;
    std::string newName;
    std::uintptr_t parentNode = 0; // what the request's caller named, or 0
};

// An operation is over, with its result.
struct OperationEnded {
    OperationReport report;
};

// A connection thread waits for the answer to this question; answer it with
// the session's Answer. QuestionClosed follows when it is over (answered, or
// withdrawn by a stop: a dialog still showing it should close).
struct QuestionAsked {
    Question question;
};
struct QuestionClosed {
    QuestionId id = 0;
};

// The server closed a connection, or a stop ended it.
struct ConnectionEnded {
    ConnectionId connection = kNoConnection;
};

// A downloaded file to show with the desktop's program for it.
struct OpenFile {
    std::string path;
};

// A tree node to redraw.
struct RepaintTree {
    std::uintptr_t node = 0;
};

} // namespace event

using CoreEvent =
    std::variant<event::LogLines, event::StatusChanged, event::Listing, event::ItemsChanged,
                 event::Renamed, event::OperationEnded, event::QuestionAsked, event::QuestionClosed,
                 event::ConnectionEnded, event::OpenFile, event::RepaintTree>;

} // namespace qb
