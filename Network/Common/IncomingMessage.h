// A message received from the server while a message-fetching job runs.
#pragma once

#include <string>

struct IncomingMessage {
    std::string Text;    // 8-bit text, up to the first zero byte of its part; empty for none
    std::string Sender;  // likewise, the sender's user name
};
