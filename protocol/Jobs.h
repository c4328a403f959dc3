// The jobs a client may ask of the server: each job's name and the types of its parameters, in
// order ("s" text, "l" signed 32-bit integer, "m" memory). The client submits them by these names
// and the server registers them with these signatures, so the two cannot drift apart.
#pragma once

#include <string_view>

// name, parameters, and what the job answers
#define PROTOCOL_JOBS(X)                                                                 \
    X(User_Register, "ssl")           /* name, password digest, password length: code */ \
    X(User_Login, "ss")               /* name, password digest: code */                  \
    X(User_Logout, "")                /* code */                                         \
    X(User_GetPreferences, "")        /* the preferences block */                        \
    X(User_GetOnlineUserList, "")     /* the online list */                              \
    X(User_SendGlobalMessage, "s")    /* text: code */                                   \
    X(User_SendMessage, "ss")         /* recipient, text: code */                        \
    X(User_ReceiveMessages, "")       /* streamed messages, then their count */          \
    X(User_SetProfile, "s")           /* profile text: code */                           \
    X(User_GetProfile, "")            /* profile text */                                 \
    X(User_GetUserProfile, "s")       /* user: profile text */                           \
    X(User_SetProfileAvatar, "m")     /* picture file: code */                           \
    X(User_GetProfileAvatar, "")      /* picture file, or no data */                     \
    X(User_GetUserProfileAvatar, "s") /* user: picture file, or no data */               \
    X(Control_Start, "s")             /* administrator password digest: code */          \
    X(Control_Stop, "")               /* code */                                         \
    X(Control_ChangePassword, "s")    /* new administrator password digest: code */      \
    X(Control_StopServer, "")         /* code */                                         \
    X(Control_KickUser, "s")          /* user: code */                                   \
    X(Control_BannUser, "sll")        /* user, option, 1 ban or 0 lift: code */          \
    X(Control_ForceLogin, "s")        /* user: code */

struct JobSpec {
    std::string_view Name;
    std::string_view Parameters;
};

// Job::User_Login.Name is "User_Login", Job::User_Login.Parameters is "ss".
namespace Job {
#define PROTOCOL_JOB_SPEC(name, parameters) inline constexpr JobSpec name{#name, parameters};
PROTOCOL_JOBS(PROTOCOL_JOB_SPEC)
#undef PROTOCOL_JOB_SPEC
}  // namespace Job

// Every job, in the order of the table.
inline constexpr JobSpec AllJobs[] = {
#define PROTOCOL_JOB_ENTRY(name, parameters) Job::name,
    PROTOCOL_JOBS(PROTOCOL_JOB_ENTRY)
#undef PROTOCOL_JOB_ENTRY
};
