#include "Network/Client_Demo/WindowWidgets.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMouseEvent>

MainWindowWidget::MainWindowWidget()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {}

void MainWindowWidget::closeEvent(QCloseEvent *event) {
    event->accept();
    // The close box ends the event loop whatever other windows are still shown. exit(), not
    // quit(): quit() first asks every window to close, and the tool windows refuse.
    QCoreApplication::exit(0);
}

ToolWindowWidget::ToolWindowWidget()
    : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setAttribute(Qt::WA_QuitOnClose, false);
}

void ToolWindowWidget::closeEvent(QCloseEvent *event) {
    event->ignore();  // no close box: the program hides this window, it never closes it
}

ImageControl::ImageControl(QWidget *parent) : QLabel(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void ImageControl::mouseDoubleClickEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton && OnLeftDoubleClick) {
        OnLeftDoubleClick();
        return;
    }
    QLabel::mouseDoubleClickEvent(event);
}

LeftDoubleClickFilter::LeftDoubleClickFilter(QObject *parent,
                                             std::function<bool(QMouseEvent *)> accept,
                                             std::function<void()> action)
    : QObject(parent), Accept(std::move(accept)), Action(std::move(action)) {}

bool LeftDoubleClickFilter::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && (!Accept || Accept(mouse)) && Action) {
            Action();
        }
    }
    return QObject::eventFilter(watched, event);
}
