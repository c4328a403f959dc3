// A second user for the front-end's tests: the real request layer in its own process, driven by
// one command per line on standard input, answering each with one line on standard output.
//   connect HOST PORT | register NAME PASS | login NAME PASS | logout | global TEXT
//   private TO TEXT | receive | setprofile F|S|C|CITY|B|H|SIG | getprofile NAME | quit
// Texts in answers escape CR, LF and bytes outside printable ASCII as \r, \n and \xHH; in
// arguments \r and \n stand for CR and LF.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Network/CT/Clock.h"
#include "Network/Client/Client.h"
#include "Network/Include/Drovik_Inc.h"

namespace {

std::string Escape(const std::string &text) {
    std::string out;
    for (unsigned char ch : text) {
        if (ch == '\r') {
            out += "\\r";
        } else if (ch == '\n') {
            out += "\\n";
        } else if (ch < 0x20 || ch >= 0x7F || ch == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", ch);
            out += hex;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out;
}

std::string Unescape(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'r' || text[i + 1] == 'n')) {
            out += text[i + 1] == 'r' ? '\r' : '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> SplitBars(const std::string &text) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, '|')) {
        parts.push_back(Unescape(part));
    }
    while (parts.size() < 7) {
        parts.emplace_back();
    }
    return parts;
}

std::string Rest(std::istringstream &in) {
    std::string rest;
    std::getline(in >> std::ws, rest);
    return Unescape(rest);
}

std::string Run(const std::string &line) {
    std::istringstream in(line);
    std::string command, a, b;
    in >> command;
    if (command == "connect") {
        int32_t port = 0;
        in >> a >> port;
        return std::to_string(Connect(a, port, "", 0, "", "", 0, 5) != 0 ? 1 : 0);
    }
    if (command == "register" || command == "login") {
        in >> a;
        b = Rest(in);
        return std::to_string(command == "register" ? User_Register(a, b) : User_Login(a, b));
    }
    if (command == "logout") {
        return std::to_string(User_Logout());
    }
    if (command == "global") {
        return std::to_string(User_SendGlobalMessage(Rest(in)));
    }
    if (command == "private") {
        in >> a;
        return std::to_string(User_SendMessage(a, Rest(in)));
    }
    if (command == "receive") {
        std::string lines;
        if (User_ReceiveMessages() != 0) {
            while (TakeNextMessage() != 0) {
                lines +=
                    (lines.empty() ? "" : " | ") + GetMessageSender() + ": " + GetMessageText();
            }
        }
        return Escape(lines);
    }
    if (command == "setprofile") {
        const std::vector<std::string> v = SplitBars(Rest(in));
        return std::to_string(User_SetProfile(v[0], v[1], v[2], v[3], v[4], v[5], v[6]));
    }
    if (command == "setavatar") {
        return std::to_string(User_SetProfileAvatar(Rest(in)));
    }
    if (command == "getprofile") {
        in >> a;
        DeleteCachedProfile(a);  // always the server's current text
        return Escape(User_GetUserProfile(a));
    }
    return "unknown command";
}

}  // namespace

int main() {
    if (LoadClusterLibrary() == 0 || !MissingClientEntryPoint().empty()) {
        std::cerr << "gui_peer: the cluster library cannot be used\n";
        return 1;
    }
    ChooseMillisecondsClock();
    ClientInit();
    ClientDeInitDelayMs = 0;
    std::string line;
    while (std::getline(std::cin, line) && line != "quit") {
        std::cout << Run(line) << std::endl;
    }
    ClientDeInit();
    return 0;
}
