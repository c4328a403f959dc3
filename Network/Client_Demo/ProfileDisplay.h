// Fills ProfileWindow with the profile and avatar of FrontEndState.SelectedUser and shows it,
// editable when it is the logged-in user's own profile. Main thread only.
#pragma once

#include <QImage>
#include <QString>
#include <string>

struct Picture;

void ShowProfile();

// Shows FrontEndState.ShownAvatar in AvatarImage, or no picture when it holds none.
void ShowAvatarImage();

// A decoded picture (0xAARRGGBB pixels, rows top to bottom) as an image; a null image when the
// picture is missing or its pixel count does not match its size.
QImage PictureToImage(const Picture *picture);

// The signature travels with CR LF between its lines; the editor holds plain line breaks.
QString SignatureForEditor(const std::string &wireSignature);
std::string SignatureFromEditor(const QString &editorText);
