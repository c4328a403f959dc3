// The one place where texts cross between the widgets (Unicode) and the request layer, whose texts
// are 8-bit Windows-1252 bytes. Every other file converts through these two procedures.
#pragma once

#include <QString>
#include <string>
#include <string_view>

// A local file path as the request layer takes it (UTF-8 on every platform), and back.
std::string ToLocalPath(const QString &path);
QString FromLocalPath(const std::string &path);

// Unicode to Windows-1252. A character the code page cannot hold becomes '?'.
std::string ToWire(const QString &text);

// Windows-1252 to Unicode. Every byte maps to one character; the five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of the same value, so
// that converting back gives the same bytes.
QString FromWire(std::string_view bytes);
