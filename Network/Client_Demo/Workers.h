// The two periodic procedures, run on their own worker threads while a user is logged in. They
// never touch a widget themselves: their changes to ChatView and OnlineList are posted to the main
// thread as queued calls, which Qt delivers in the order they were posted.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

// Every 500 ms: collects the received messages and appends "sender: text" lines to ChatView.
void FetchMessages(int32_t unused);

// Every 2500 ms: replaces the items of OnlineList by the names online; an empty list ends the
// polling (LoggedIn becomes 0).
void RefreshOnlineList(int32_t unused);

// Queued changes of the two controls (callable from any thread).
void PostChatLines(QStringList lines);
void PostOnlineNames(QStringList names);
