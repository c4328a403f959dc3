#include "Network/Client_Demo/WindowWidgets.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

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

void ImageControl::paintEvent(QPaintEvent *event) {
    QFrame::paintEvent(event);  // the sunken border only
    const QPixmap shown = pixmap();
    if (shown.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.setClipRect(contentsRect());
    painter.drawPixmap(contentsRect().topLeft(), shown);
}

GroupFrame::GroupFrame(const QString &title, QWidget *parent) : QGroupBox(title, parent) {}

void GroupFrame::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    // An etched rectangle drawn here rather than by the style, whose group-box frame leaves room
    // for the title above itself and so ends up below it.
    const QRect frame = rect().adjusted(0, metrics.height() / 2, -1, -1);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(frame.adjusted(1, 1, 0, 0));
    // The title on the window's background, over the line.
    const QRect titleArea(6, 0, metrics.horizontalAdvance(title()) + 6, metrics.height());
    painter.fillRect(titleArea, palette().window());
    style()->drawItemText(&painter, titleArea, Qt::AlignCenter, palette(), isEnabled(), title(),
                          QPalette::WindowText);
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
