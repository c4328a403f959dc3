// One procedure per control event the program reacts to. Each runs on the main thread, reads the
// texts it needs from the controls, calls the request layer, passes the reply code to its
// translator and updates FrontEndState and the controls.
#pragma once

#include <QString>
#include <cstdint>

// MainWindow
void ConnectButtonHandler();
void DisconnectButtonHandler();
void RegisterButtonHandler();
void LoginButtonHandler();
void LogoutButtonHandler();
void SendButtonHandler();
void AdministrateButtonHandler();
void OnlineListDoubleClickHandler();

// ProfileWindow
void AvatarImageDoubleClickHandler();
void SaveButtonHandler();
void FlushCacheButtonHandler();
void SendPrivateButtonHandler();
void CloseProfileButtonHandler();

// AdminWindow
void StartAdminButtonHandler();
void StopAdminButtonHandler();
void StopServerButtonHandler();
void ChangeAdminPwdButtonHandler();
void KickUserButtonHandler();
void BanUserButtonHandler();
void UnbanUserButtonHandler();
void KickBanUserButtonHandler();
void ForceLoginButtonHandler();

// Connects every control event to its handler (after BuildWindows).
void ConnectHandlers();

// The port typed into PortField: decimal, leading blanks skipped, the empty text gives 0, and a
// number too large for 32 bits gives the largest 32-bit value.
int32_t PortFromText(const QString &text);
