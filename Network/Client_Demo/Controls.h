// Every window and control of the front-end, reachable by the handlers and the control-state
// operations. The windows own their controls; DestroyWindows releases them all.
#pragma once

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QWidget;
class ImageControl;

struct MainWindowControls {
    QGroupBox *ServerFrame = nullptr;
    QLabel *HostLabel = nullptr;
    QLineEdit *HostField = nullptr;
    QLabel *PortLabel = nullptr;
    QLineEdit *PortField = nullptr;
    QPushButton *AdministrateButton = nullptr;
    QPushButton *ConnectButton = nullptr;
    QPushButton *DisconnectButton = nullptr;
    QGroupBox *UserFrame = nullptr;
    QLabel *UserLabel = nullptr;
    QLineEdit *UserField = nullptr;
    QLabel *PassLabel = nullptr;
    QLineEdit *PassField = nullptr;
    QPushButton *LoginButton = nullptr;
    QPushButton *LogoutButton = nullptr;
    QPushButton *RegisterButton = nullptr;
    QLabel *OnlineLabel = nullptr;
    QListWidget *OnlineList = nullptr;
    QPlainTextEdit *ChatView = nullptr;
    QLineEdit *MessageField = nullptr;
    QPushButton *SendButton = nullptr;
};

struct ProfileWindowControls {
    ImageControl *AvatarImage = nullptr;
    QLabel *FirstNameLabel = nullptr;
    QLineEdit *FirstNameField = nullptr;
    QLabel *SureNameLabel = nullptr;
    QLineEdit *SureNameField = nullptr;
    QLabel *CountryLabel = nullptr;
    QLineEdit *CountryField = nullptr;
    QLabel *CityLabel = nullptr;
    QLineEdit *CityField = nullptr;
    QLabel *BirthLabel = nullptr;
    QLineEdit *BirthField = nullptr;
    QLabel *HomepageLabel = nullptr;
    QLineEdit *HomepageField = nullptr;
    QLabel *SignatureLabel = nullptr;
    QPlainTextEdit *SignatureEditor = nullptr;
    QPushButton *SaveButton = nullptr;
    QPushButton *FlushCacheButton = nullptr;
    QPushButton *CloseProfileButton = nullptr;
    QPushButton *SendPrivateButton = nullptr;
};

struct AdminWindowControls {
    QLabel *AdminPasswordLabel = nullptr;
    QLineEdit *AdminPasswordField = nullptr;
    QPushButton *StartAdminButton = nullptr;
    QPushButton *StopAdminButton = nullptr;
    QPushButton *ChangeAdminPwdButton = nullptr;
    QLineEdit *NewAdminPasswordField = nullptr;
    QPushButton *StopServerButton = nullptr;
    QLabel *TargetUserLabel = nullptr;
    QLineEdit *TargetUserField = nullptr;
    QPushButton *KickUserButton = nullptr;
    QPushButton *BanUserButton = nullptr;
    QPushButton *UnbanUserButton = nullptr;
    QPushButton *KickBanUserButton = nullptr;
    QPushButton *ForceLoginButton = nullptr;
};

struct ControlsRecord {
    QWidget *MainWindow = nullptr;
    QWidget *ProfileWindow = nullptr;
    QWidget *AdminWindow = nullptr;
    MainWindowControls Main;
    ProfileWindowControls Profile;
    AdminWindowControls Admin;
};

extern ControlsRecord Controls;

// Opens the three windows hidden and creates every control in table order.
void BuildWindows();
// Creates the controls of one window (used by BuildWindows).
void BuildMainWindowControls();
void BuildProfileWindowControls();
void BuildAdminWindowControls();
// Destroys the windows with their controls and clears the record.
void DestroyWindows();
