// The reply codes of the jobs, by group. A code means something else in every group (3 is a
// short password to a registration, a wrong password to a login), so each group has its own
// names: RegisterCode::PasswordTooShort, LoginCode::WrongPassword. 0 is never sent by the server:
// on the client it means the request failed, with the reason in its last error text.
#pragma once

#include <cstdint>
#include <string_view>

//      group     name               code  meaning
#define PROTOCOL_REPLY_CODES(X)                                                                \
    X(Reply, Failed, 0, "the request failed")                                                  \
    X(Reply, Done, 1, "done")                                                                  \
    X(Register, Created, 1, "account created")                                                 \
    X(Register, NameExists, 2, "the name is taken")                                            \
    X(Register, PasswordTooShort, 3, "the password is too short")                              \
    X(Register, NameBanned, 4, "the name is banned")                                           \
    X(Register, NameInvalid, 5, "the name holds a character other than A-Z, a-z, 0-9 and _")   \
    X(Login, LoggedIn, 1, "logged in")                                                         \
    X(Login, UnknownName, 2, "no account has this name")                                       \
    X(Login, WrongPassword, 3, "wrong password")                                               \
    X(Login, LoggedInElsewhere, 4, "the account is logged in on another connection")           \
    X(Login, OtherAccountHere, 5, "this connection is logged in with another account already") \
    X(Login, Banned, 6, "the account is banned")                                               \
    X(Control, Done, 1, "done")                                                                \
    X(Control, WrongPassword, 2, "wrong administrator password")                               \
    X(Control, NoRights, 3, "the connection is not in administrator mode")                     \
    X(Control, UnknownUser, 4, "no account has this name")                                     \
    X(Control, NotLoggedIn, 5, "the user is not logged in")                                    \
    X(Control, KickingOneself, 6, "an administrator cannot kick their own account")            \
    X(Avatar, Stored, 1, "avatar stored")                                                      \
    X(Avatar, TooLarge, 2, "the file is larger than the server allows")                        \
    X(Avatar, TooWide, 3, "the picture is wider or higher than the server allows")             \
    X(Avatar, FileUnreadable, 4, "the file cannot be found or read")                           \
    X(Avatar, NotAPicture, 5, "the file is not a picture in a known format")

// The groups: ReplyGroup::Login, ...
enum class ReplyGroup {
    Reply,
    Register,
    Login,
    Control,
    Avatar,
};

// The named codes: LoginCode::WrongPassword, ...
#define PROTOCOL_REPLY_CONSTANT(group, name, code, meaning) \
    namespace group##Code {                                 \
        inline constexpr int32_t name = code;               \
    }
PROTOCOL_REPLY_CODES(PROTOCOL_REPLY_CONSTANT)
#undef PROTOCOL_REPLY_CONSTANT

struct ReplyCodeEntry {
    ReplyGroup Group;
    int32_t Code;
    std::string_view Name;
    std::string_view Meaning;
};

inline constexpr ReplyCodeEntry AllReplyCodes[] = {
#define PROTOCOL_REPLY_ENTRY(group, name, code, meaning) {ReplyGroup::group, code, #name, meaning},
    PROTOCOL_REPLY_CODES(PROTOCOL_REPLY_ENTRY)
#undef PROTOCOL_REPLY_ENTRY
};

// The English meaning of a group's code, for logs and texts; "unknown code" for one the group does
// not have.
constexpr std::string_view ReplyCodeMeaning(ReplyGroup group, int32_t code) {
    for (const ReplyCodeEntry &entry : AllReplyCodes)
        if (entry.Group == group && entry.Code == code)
            return entry.Meaning;
    return "unknown code";
}

// How many codes of the group refuse a request (2 and above), so that whoever keys a text by
// each of them can check it has them all.
constexpr int RefusalCodeCount(ReplyGroup group) {
    int count = 0;
    for (const ReplyCodeEntry &entry : AllReplyCodes)
        if (entry.Group == group && entry.Code >= 2)
            ++count;
    return count;
}
