// Creates the kinds of control the windows are built from, each at its fixed place in the client
// area of the current parent window and named after its design name.
#pragma once

#include <QString>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QWidget;
class ImageControl;

struct ControlPlace {
    int X;
    int Y;
    int Width;
    int Height;
};

// The window that receives the controls created next.
void UseParentWindow(QWidget *window);

QGroupBox *CreateGroupFrame(const char *name, const QString &text, ControlPlace place);
QLabel *CreateLabel(const char *name, const QString &text, ControlPlace place);
QLineEdit *CreateTextField(const char *name, const QString &text, ControlPlace place);
QLineEdit *CreatePasswordField(const char *name, ControlPlace place);
QLineEdit *CreateDigitsField(const char *name, const QString &text, ControlPlace place);
QPushButton *CreateButton(const char *name, const QString &text, ControlPlace place);
QPushButton *CreateDefaultButton(const char *name, const QString &text, ControlPlace place);
QListWidget *CreateListBox(const char *name, ControlPlace place);
QPlainTextEdit *CreateRichTextView(const char *name, ControlPlace place);
QPlainTextEdit *CreateMultiLineEditor(const char *name, ControlPlace place);
ImageControl *CreateImageControl(const char *name, ControlPlace place);
