// Which step machine runs each action kind.
#include "engine/machines.h"

namespace qb {

HandlerTable DefaultHandlers() {
    HandlerTable table;
    table[CFTPConstants::KIND_CONNECT] = {StartConnect, ReplyConnect, nullptr};
    RegisterFolderMachines(table);
    RegisterDeleteRenameMachines(table);
    RegisterTransferMachines(table);
    return table;
}

} // namespace qb
