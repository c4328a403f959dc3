// The five operations that keep the enabled state of the controls and the visibility of the tool
// windows consistent with the connection, login and administrator states. Main thread only.
#pragma once

#include <cstdint>

void SetConnectionControls(int32_t connected);
void SetLoginControls(int32_t loggedIn);
void SetAdminControls(int32_t enabled);
void ShowAdminWindow(int32_t show);
void ShowProfileWindow(int32_t show, int32_t editable);
