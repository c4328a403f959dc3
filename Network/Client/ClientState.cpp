#include "Network/Client/ClientState.h"

#include "Network/Client/Client.h"

ClientStateRecord ClientState;

void SetLastError(std::string_view text) {
    std::string copy(text);  // built outside the lock, so the lock is held for a swap only
    std::lock_guard guard(ClientState.LastErrorLock);
    ClientState.LastError.swap(copy);
}

std::string GetLastErrorText() {
    std::lock_guard guard(ClientState.LastErrorLock);
    return ClientState.LastError;
}
