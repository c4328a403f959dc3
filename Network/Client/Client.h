// The client request layer: the client's state, the connection to the server and its requests.
//
// Texts are std::string holding 8-bit Windows-1252 bytes; reply codes are int32_t (0 failed, with
// the reason in GetLastErrorText; 1 success; 2 and above a refusal of the request); handles are
// intptr_t, 0 for none. Every operation may be called from any thread; requests run one at a time.
#pragma once

#include "Network/Client/ClientState.h"
#include "Network/Include/Drovik_Inc.h"

#include <cstdint>
#include <string>

// Creates the library's master, the local cache and the message list, and installs the connection
// callback. Needs the library bound (LoadClusterLibrary). 1 on success, also when already done; 0
// when an entry point the client calls is unbound or the library cannot create the master or the
// cache, with the reason in GetLastErrorText; every operation then fails cleanly.
int32_t ClientInit();

// Connects to the server at Host:Port, dropping an existing connection first, so a failed connect
// ends not connected. The six further arguments go to Drovik_Master_AddSlave unchanged: client
// name, three reserved values and the connect time-out in seconds (the front-end passes "", 0, "",
// "", 0 and 5). The new connection's handle, or 0 with the library's text in GetLastErrorText.
intptr_t Connect(const std::string &Host, int32_t Port, const std::string &ClientName,
                 int32_t Reserved1, const std::string &Reserved2, const std::string &Reserved3,
                 int32_t Reserved4, int32_t TimeoutSeconds);

// Drops the connection, if any. Returns the connection handle after the call, which is always 0.
intptr_t Disconnect();

// Drops the connection, releases the master, the received messages and the cache. Always 1.
int32_t ClientDeInit();

// Pause at the end of ClientDeInit, in milliseconds (1000 unless changed).
extern int32_t ClientDeInitDelayMs;

// A copy of the last failure's text. Never waits for a running request.
std::string GetLastErrorText();

// Remove the cached profile text and avatar of a user name ("Profile_" and "Avatar_" + name), or
// of the own account ("@Own"). Always 0.
int32_t DeleteCachedProfile(const std::string &name);
int32_t DeleteOwnCachedProfile();

// 1 when the name, up to its first zero byte, holds only A-Z, a-z, 0-9 and _ (the empty name
// included), else 0.
int32_t IsValidName(const std::string &name);
