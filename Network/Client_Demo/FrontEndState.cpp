#include "Network/Client_Demo/FrontEndState.h"

FrontEndStateRecord FrontEndState;

void ResetFrontEndState() {
    FrontEndState.Connected = 0;
    FrontEndState.LoggedIn = 0;
    FrontEndState.LoginName.clear();
    FrontEndState.LoginPassword.clear();
    FrontEndState.SelectedUser.clear();
    FrontEndState.AvatarFile.clear();
    FrontEndState.ShownAvatar.reset();
    FrontEndState.LastReplyCode = 0;
    for (std::string &text : FrontEndState.ProfileTexts) {
        text.clear();
    }
    FrontEndState.ProfileText.clear();
    FrontEndState.OwnProfileShown = 0;
    FrontEndState.ListWorker = nullptr;
    FrontEndState.MessageWorker = nullptr;
}
