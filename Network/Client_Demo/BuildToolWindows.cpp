// The controls of the two tool windows: ProfileWindow (19) and AdminWindow (14).
#include "Network/Client_Demo/ControlFactory.h"
#include "Network/Client_Demo/Controls.h"

void BuildProfileWindowControls() {
    ProfileWindowControls &c = Controls.Profile;
    c.AvatarImage = CreateImageControl("AvatarImage", {5, 5, 100, 100});
    c.FirstNameLabel = CreateLabel("FirstNameLabel", QStringLiteral("Vorname:"), {110, 7, 55, 20});
    c.FirstNameField = CreateTextField("FirstNameField", QString(), {170, 5, 120, 20});
    c.SureNameLabel = CreateLabel("SureNameLabel", QStringLiteral("Nachname:"), {110, 32, 55, 20});
    c.SureNameField = CreateTextField("SureNameField", QString(), {170, 30, 120, 20});
    c.CountryLabel = CreateLabel("CountryLabel", QStringLiteral("Land:"), {110, 57, 55, 20});
    c.CountryField = CreateTextField("CountryField", QString(), {170, 55, 120, 20});
    c.CityLabel = CreateLabel("CityLabel", QStringLiteral("Stadt:"), {110, 82, 55, 20});
    c.CityField = CreateTextField("CityField", QString(), {170, 80, 120, 20});
    c.BirthLabel = CreateLabel("BirthLabel", QStringLiteral("Geburtstag:"), {110, 107, 55, 20});
    c.BirthField = CreateTextField("BirthField", QString(), {170, 105, 120, 20});
    c.HomepageLabel = CreateLabel("HomepageLabel", QStringLiteral("Homepage:"), {110, 132, 55, 20});
    c.HomepageField = CreateTextField("HomepageField", QString(), {170, 130, 120, 20});
    c.SignatureLabel =
        CreateLabel("SignatureLabel", QStringLiteral("Signatur:"), {110, 157, 55, 20});
    c.SignatureEditor = CreateMultiLineEditor("SignatureEditor", {110, 180, 180, 60});
    c.SaveButton = CreateButton("SaveButton", QStringLiteral("Speichern"), {5, 250, 70, 20});
    c.FlushCacheButton =
        CreateButton("FlushCacheButton", QStringLiteral("Flush Cache"), {5, 225, 70, 20});
    c.CloseProfileButton =
        CreateButton("CloseProfileButton", QStringLiteral("Beenden"), {220, 250, 70, 20});
    c.SendPrivateButton =
        CreateButton("SendPrivateButton", QStringLiteral("Nachricht senden"), {95, 250, 105, 20});
}

void BuildAdminWindowControls() {
    AdminWindowControls &c = Controls.Admin;
    c.AdminPasswordLabel =
        CreateLabel("AdminPasswordLabel", QStringLiteral("Password:"), {5, 7, 50, 20});
    c.AdminPasswordField = CreatePasswordField("AdminPasswordField", {60, 5, 80, 20});
    c.StartAdminButton =
        CreateButton("StartAdminButton", QStringLiteral("Start Admin"), {145, 5, 70, 20});
    c.StopAdminButton =
        CreateButton("StopAdminButton", QStringLiteral("Stop Admin"), {220, 5, 70, 20});
    c.ChangeAdminPwdButton =
        CreateButton("ChangeAdminPwdButton", QStringLiteral("Change Admin Pwd"), {5, 40, 100, 20});
    c.NewAdminPasswordField = CreatePasswordField("NewAdminPasswordField", {110, 40, 180, 20});
    c.StopServerButton =
        CreateButton("StopServerButton", QStringLiteral("Stop Server"), {5, 65, 100, 20});
    c.TargetUserLabel =
        CreateLabel("TargetUserLabel", QStringLiteral("Username:"), {5, 92, 50, 20});
    c.TargetUserField = CreateTextField("TargetUserField", QString(), {110, 90, 180, 20});
    c.KickUserButton =
        CreateButton("KickUserButton", QStringLiteral("Kick User"), {5, 115, 100, 20});
    c.BanUserButton = CreateButton("BanUserButton", QStringLiteral("Bann User"), {5, 140, 100, 20});
    c.UnbanUserButton =
        CreateButton("UnbanUserButton", QStringLiteral("UnBann User"), {110, 140, 100, 20});
    c.KickBanUserButton =
        CreateButton("KickBanUserButton", QStringLiteral("KickBann User"), {5, 165, 100, 20});
    c.ForceLoginButton =
        CreateButton("ForceLoginButton", QStringLiteral("ForceLogin"), {5, 190, 100, 20});
}
