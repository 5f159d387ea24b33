#include "engine/sockets.h"

#include "engine/remote_manager.h"

namespace qb {

void CFTPCtrlSocket::Close() {
    m_strHost.clear();
    m_strLocalAddress.clear();
    m_socket.Close();
    if (m_pOwner) {
        m_pOwner->SetHostName({});
    }
}

} // namespace qb
