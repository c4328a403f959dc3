#include "Network/Client_Demo/ControlFactory.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include "Network/Client_Demo/WindowWidgets.h"

namespace {

QWidget *CurrentParent = nullptr;

template <typename Control>
Control *Place(Control *control, const char *name, ControlPlace place) {
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(place.X, place.Y, place.Width, place.Height);
    control->show();  // visible within its window from the start
    return control;
}

}  // namespace

void UseParentWindow(QWidget *window) {
    CurrentParent = window;
}

QGroupBox *CreateGroupFrame(const char *name, const QString &text, ControlPlace place) {
    // A sibling of the controls drawn inside it, created before them so it lies beneath them.
    return Place(new GroupFrame(text, CurrentParent), name, place);
}

QLabel *CreateLabel(const char *name, const QString &text, ControlPlace place) {
    auto *label = new QLabel(CurrentParent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return Place(label, name, place);
}

QLineEdit *CreateTextField(const char *name, const QString &text, ControlPlace place) {
    return Place(new QLineEdit(text, CurrentParent), name, place);
}

QLineEdit *CreatePasswordField(const char *name, ControlPlace place) {
    QLineEdit *field = CreateTextField(name, QString(), place);
    field->setEchoMode(QLineEdit::Password);
    return field;
}

QLineEdit *CreateDigitsField(const char *name, const QString &text, ControlPlace place) {
    QLineEdit *field = CreateTextField(name, text, place);
    static const QRegularExpression digitsOnly(QStringLiteral("[0-9]*"));
    field->setValidator(new QRegularExpressionValidator(digitsOnly, field));
    return field;
}

QPushButton *CreateButton(const char *name, const QString &text, ControlPlace place) {
    auto *button = new QPushButton(text, CurrentParent);
    button->setAutoDefault(false);
    return Place(button, name, place);
}

QPushButton *CreateDefaultButton(const char *name, const QString &text, ControlPlace place) {
    QPushButton *button = CreateButton(name, text, place);
    button->setDefault(true);
    return button;
}

QListWidget *CreateListBox(const char *name, ControlPlace place) {
    auto *list = new QListWidget(CurrentParent);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSortingEnabled(false);
    list->setUniformItemSizes(true);  // every item is one line: lets long lists lay out fast
    list->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    return Place(list, name, place);
}

QPlainTextEdit *CreateMultiLineEditor(const char *name, ControlPlace place) {
    auto *editor = new QPlainTextEdit(CurrentParent);
    editor->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    editor->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    editor->setMaximumBlockCount(0);  // no length limit
    return Place(editor, name, place);
}

QPlainTextEdit *CreateRichTextView(const char *name, ControlPlace place) {
    QPlainTextEdit *view = CreateMultiLineEditor(name, place);
    view->setReadOnly(true);  // read-only for the user; text is only ever added as plain text
    view->setUndoRedoEnabled(false);
    return view;
}

ImageControl *CreateImageControl(const char *name, ControlPlace place) {
    return Place(new ImageControl(CurrentParent), name, place);
}
