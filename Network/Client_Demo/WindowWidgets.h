// The few widget kinds the front-end needs beyond Qt's own: the main window that ends the event
// loop when closed, the tool windows that only the program hides, the image control, and a filter
// that turns a left double-click into a call.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QObject>
#include <QWidget>
#include <functional>

class QCloseEvent;
class QEvent;
class QMouseEvent;

// Closing it (its close box) ends the event loop; the program then shuts down.
class MainWindowWidget : public QWidget {
public:
    MainWindowWidget();

protected:
    void closeEvent(QCloseEvent *event) override;
};

// A tool window: narrow title bar, no close box, no task-bar button. Close requests (Alt+F4 and
// the like) are refused; the program shows and hides it.
class ToolWindowWidget : public QWidget {
public:
    ToolWindowWidget();

protected:
    void closeEvent(QCloseEvent *event) override;
};

// Shows one picture or nothing, with a sunken border; a left double-click calls OnLeftDoubleClick.
// The picture is drawn as it is whether the control is enabled or not (a QLabel would fade it).
class ImageControl : public QLabel {
public:
    explicit ImageControl(QWidget *parent);
    std::function<void()> OnLeftDoubleClick;

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};

// A group frame whose top line runs through the middle of its title, as the platform's group
// boxes draw it, so that it stays above the controls placed inside it (a QGroupBox under some
// styles draws the line below the title, right through them). Same place and size as given.
class GroupFrame : public QGroupBox {
public:
    GroupFrame(const QString &title, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// Installed on a widget (for a list box: on its viewport); calls Action on a left double-click
// for which Accept (when set) returns true. The event still reaches the widget.
class LeftDoubleClickFilter : public QObject {
public:
    LeftDoubleClickFilter(QObject *parent, std::function<bool(QMouseEvent *)> accept,
                          std::function<void()> action);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<bool(QMouseEvent *)> Accept;
    std::function<void()> Action;
};
