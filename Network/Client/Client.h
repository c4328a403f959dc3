// The client request layer: the client's state, the connection to the server and its requests.
//
// Texts are std::string holding 8-bit Windows-1252 bytes; reply codes are int32_t (0 failed, with
// the reason in GetLastErrorText; 1 success; 2 and above a refusal of the request); handles are
// intptr_t, 0 for none. Every operation may be called from any thread; requests run one at a time.
#pragma once

#include "Network/Client/ClientState.h"
#include "Network/Include/Drovik_Inc.h"
#include "picture/Picture.h"
#include "protocol/PasswordDigest.h"

#include <cstdint>
#include <memory>
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

// The longest a request waits for its job's outcome, in milliseconds: RequestTimeoutLimitMs unless
// a test shortens it (before any request runs). A request that waits longer returns its failure
// value with TimedOutText in GetLastErrorText; a late outcome of its job is dropped.
inline constexpr int32_t RequestTimeoutLimitMs = 30000;
extern int32_t RequestTimeoutMs;

// A copy of the last failure's text. Never waits for a running request.
std::string GetLastErrorText();

// Remove the cached profile text and avatar of a user name ("Profile_" and "Avatar_" + name), or
// of the own account ("@Own"). Always 0.
int32_t DeleteCachedProfile(const std::string &name);
int32_t DeleteOwnCachedProfile();

// 1 when the name, up to its first zero byte, holds only A-Z, a-z, 0-9 and _ (the empty name
// included), else 0.
int32_t IsValidName(const std::string &name);

// ---- Accounts --------------------------------------------------------------------------------

// PasswordDigest (protocol/PasswordDigest.h): the 32 lowercase hexadecimal digits of the MD5
// digest of the password's bytes (up to its first zero byte). A password never leaves the client
// in any other form.

// Creates an account: the name, the password's digest and its length in bytes. 5 at once, with
// nothing sent, when the name holds a character other than A-Z, a-z, 0-9 and _; otherwise the
// server's code: 1 created, 2 name taken, 3 password too short, 4 name banned, 5 name invalid.
int32_t User_Register(const std::string &name, const std::string &password);

// Logs the connection in: 1 logged in, 2 unknown name, 3 wrong password, 4 name logged in already,
// 5 connection logged in already, 6 banned. After 1 the server's preferences are fetched in the
// same call; when that fetch ends with an error of the server the result is 0.
int32_t User_Login(const std::string &name, const std::string &password);

// Logs the connection out; the server's code (1 logged out).
int32_t User_Logout();

// Fetches the server's preferences into ClientState.Preferences: 1 when a block arrived, else 0
// (the record then keeps what it held). A block longer than the record is cut to its size.
int32_t User_GetPreferences();

// ---- Online list and messages ----------------------------------------------------------------

// The names of the users online, each followed by LF CR; "" on failure.
std::string User_GetOnlineUserList();

// Send a private message to one user, or a message to everybody: 1 sent, 0 failed.
int32_t User_SendMessage(const std::string &recipient, const std::string &text);
int32_t User_SendGlobalMessage(const std::string &text);

// Collects the messages waiting on the server into the received-message list: the job's count
// (0 when none or on failure; after an error of the server, the previous job's count).
int32_t User_ReceiveMessages();

// Takes the oldest received message: 1, or 0 when there is none. Its sender and text are then
// read with GetMessageSender and GetMessageText ("" before the first message).
int32_t TakeNextMessage();
std::string GetMessageSender();
std::string GetMessageText();

// ---- Profiles and avatars --------------------------------------------------------------------

// Stores the own profile text (seven values, inserted byte for byte): the server's code, 1 stored.
// Once the job was submitted the own cached profile and avatar are dropped, whatever the code.
int32_t User_SetProfile(const std::string &FirstName, const std::string &SureName,
                        const std::string &Country, const std::string &City,
                        const std::string &Birth, const std::string &Homepage,
                        const std::string &Signature);

// Uploads a picture file (a local path, UTF-8 on Linux) as the own avatar. Checked first, without
// sending anything: 4 no such file (or it can no longer be read when it is sent), 2 larger than
// MaxAvatarSize, 5 not a picture the client can decode, 3 wider or higher than the limits.
// Otherwise the server's code, 1 stored; the own cached profile and avatar are then dropped.
int32_t User_SetProfileAvatar(const std::string &file);

// The own profile text, or a user's; "" when there is none or on failure. Served from the local
// cache when present; a fetched text (the empty one included) is cached.
std::string User_GetProfile();
std::string User_GetUserProfile(const std::string &user);

// The own avatar, or a user's, decoded; empty when there is none, on failure, or when its bytes
// are not a picture. Served from the local cache when present; fetched bytes are cached.
std::unique_ptr<Picture> User_GetProfileAvatar();
std::unique_ptr<Picture> User_GetUserProfileAvatar(const std::string &user);

// ---- Administration --------------------------------------------------------------------------
// Reply codes: 1 success, 2 wrong administrator password, 3 no administrator rights, 4 unknown
// user, 5 user not logged in, 6 an administrator kicking themselves; 0 failed.

// Switches the connection into administrator mode with the administrator password, and back.
int32_t Control_Start(const std::string &password);
int32_t Control_Stop();
// Sets a new administrator password (in administrator mode).
int32_t Control_ChangePassword(const std::string &password);
// Stops the server.
int32_t Control_StopServer();
int32_t Control_KickUser(const std::string &user);
// banned: 1 ban, 0 lift the ban; option is passed to the server unchanged.
int32_t Control_BannUser(const std::string &user, int32_t banned, int32_t option);
// Logs this connection in as the user, without the user's password.
int32_t Control_ForceLogin(const std::string &user);
// Kicks the user, then bans (or unbans) them: 1 when both requests were answered, whatever their
// codes; 0 when one failed (the ban is not sent when the kick failed).
int32_t Control_KickBannUser(const std::string &user, int32_t banned, int32_t option);
